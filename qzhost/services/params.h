// "QZVParmFuncs 2": animated parameters, each one double on a named channel,
// and the save and load states through which they are written as blocks.
#pragma once

#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "host/abi.h"
#include "qzhost/base/error.h"
#include "qzhost/base/json.h"
#include "qzhost/loader/block_states.h"
#include "qzhost/services/animation.h"

namespace qzhost {

struct ChannelGroup;

struct AnimatedParam {
    std::string channel;
    ChannelGroup *group = nullptr;
    Animation animation;
};

// A parameter block: {"channel": NAME, "value": NUMBER} or
// {"channel": NAME, "keys": [{"time": T, "value": V, "curve": C}, ...]},
// where the curve is step, linear (the default, then omitted), smooth or
// exponential.
Json toBlock(const AnimatedParam &param);
// Throws BlockError naming the channel and the problem.
Animation fromBlock(const Json &block, const std::string &channel);
// The same for the channel the block names, for a block on its own.
void checkBlock(const Json &block);

// A parameter block that is not a parameter's saved form: bad input.
struct BlockError : HostError {
    explicit BlockError(const std::string &message) : HostError(message) {}
};

// Sets the value at that time as Animation::setValueAt does, unless that
// would break the rule of invalidAnimation: then nothing changes and the
// answer says why, naming the channel and the value.
std::optional<std::string> editValue(AnimatedParam &param, double time, double value);

class ParamStore {
public:
    ParamStore();
    ~ParamStore();
    const ParamService *table() const;

    AnimatedParam &get(ParamHandle handle) { return *static_cast<AnimatedParam *>(handle); }
    size_t liveCount() const { return params_.size(); }

    // The first value that set value refused since the last call, with the
    // reason; set value itself can answer the module only that it failed.
    std::optional<std::string> takeRefusal() { return std::exchange(refusal_, std::nullopt); }

private:
    friend struct ParamCalls;
    std::unordered_map<AnimatedParam *, std::unique_ptr<AnimatedParam>> params_;
    std::optional<std::string> refusal_;
};

}  // namespace qzhost
