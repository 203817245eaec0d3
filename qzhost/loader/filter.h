// A module's filter server, activated, and the instances made through it.
// Every text an instance or render operation returns is checked here: null
// is success, anything else becomes a HostError carrying the module's text.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "qzhost/base/error.h"
#include "qzhost/base/json.h"
#include "qzhost/loader/block_states.h"
#include "qzhost/loader/module.h"

namespace qzhost {

class FilterServer {
public:
    // Activates the filter server of that name, handing it the host's
    // lookup; throws HostError when the module lacks it or the activation
    // fails.
    FilterServer(const LoadedModule &module, std::string_view name, HostGlobal lookup);
    FilterServer(const FilterServer &) = delete;
    FilterServer &operator=(const FilterServer &) = delete;

    const std::string &name() const { return name_; }
    const LoadedModule &module() const { return module_; }
    const InstanceOps &instanceOps() const { return instanceOps_; }
    const RenderOps &renderOps() const { return renderOps_; }
    const HandlerRecord &handler() const { return record_; }

private:
    const LoadedModule &module_;
    std::string name_;
    InstanceOps instanceOps_{};
    RenderOps renderOps_{};
    HandlerRecord record_{};
};

// A saved state the module refused: its own text, and the block it was at.
struct StateError : HostError {
    StateError(const std::string &text, size_t blockIndex) : HostError(text), block(blockIndex) {}
    size_t block;
};

// Activation results as a sentence about the server.
std::string activationProblem(int result);

// One instance of a filter, destroyed with this object. The module is not
// thread-safe: callers hold the host's lock on module calls around every
// call here but evaluate().
class HostedFilter {
public:
    explicit HostedFilter(const FilterServer &server);
    ~HostedFilter();
    HostedFilter(const HostedFilter &) = delete;
    HostedFilter &operator=(const HostedFilter &) = delete;

    const FilterServer &server() const { return server_; }
    void *instance() const { return instance_; }

    // The module's one-line description; the server's name when it gives none.
    std::string describe() const;
    // The instance's saved form, as the blocks its save wrote.
    std::vector<Json> save() const;
    // Whole or not at all: throws StateError, with nothing loaded, when the
    // module refuses a block.
    void load(const std::vector<Json> &blocks);
    void copyFrom(const HostedFilter &source);

    // The render callbacks; a refusal throws HostError (exit code 1) with
    // the module's text alone, for the renderer to say which filter it was.
    void startRender();
    void newTime(int frame, double time);
    void evaluate(const PixelAccess &access) const { server_.handler().evaluate(instance_, &access); }
    void finishRender();

private:
    const FilterServer &server_;
    void *instance_;
};

}  // namespace qzhost
