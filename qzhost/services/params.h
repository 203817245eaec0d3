// "QZVParmFuncs 2": animated parameters, each one double on a named channel,
// and the save and load states through which they are written as blocks.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <unordered_map>
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

// A parameter block that is not a parameter's saved form: bad input.
struct BlockError : HostError {
    explicit BlockError(const std::string &message) : HostError(message) {}
};

class ParamStore {
public:
    ParamStore();
    ~ParamStore();
    const ParamService *table() const;

    AnimatedParam &get(ParamHandle handle) { return *static_cast<AnimatedParam *>(handle); }
    size_t liveCount() const { return params_.size(); }

private:
    friend struct ParamCalls;
    std::unordered_map<AnimatedParam *, std::unique_ptr<AnimatedParam>> params_;
};

}  // namespace qzhost
