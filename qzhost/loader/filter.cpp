#include "qzhost/loader/filter.h"

namespace qzhost {

std::string activationProblem(int result) {
    switch (result) {
        case ACTIVATE_BAD_VERSION: return "refuses interface version " + std::to_string(HOST_INTERFACE_VERSION);
        case ACTIVATE_MISSING_SERVICE: return "lacks a service or panel it needs";
        default: return "failed to activate (code " + std::to_string(result) + ")";
    }
}

FilterServer::FilterServer(const LoadedModule &module, std::string_view name, HostGlobal lookup)
    : module_(module), name_(name) {
    const ServerEntry &entry = module.server(HOST_FILTER_CLASS, name);
    record_ = {&instanceOps_, nullptr, &renderOps_, nullptr, nullptr};
    const int result = entry.activate(HOST_INTERFACE_VERSION, lookup, &record_, nullptr);
    if (result != ACTIVATE_OK) {
        throw HostError("filter '" + name_ + "' in '" + module.file().string() + "' " + activationProblem(result));
    }
}

HostedFilter::HostedFilter(const FilterServer &server) : server_(server) {
    const char *error = nullptr;
    instance_ = server.instanceOps().create(server.instanceOps().priv, nullptr, &error);
    if (!instance_) {
        throw HostError("filter '" + server.name() + "' could not create an instance" +
                        (error ? std::string(": ") + error : std::string()), kExitFailed);
    }
}

HostedFilter::~HostedFilter() { server_.instanceOps().destroy(instance_); }

namespace {

void throwIfRefused(const char *text, const std::string &context = "") {
    if (text) throw HostError(context + text, kExitFailed);
}

}  // namespace

std::string HostedFilter::describe() const {
    const char *text = server_.instanceOps().describe(instance_);
    return text ? text : server_.name();
}

std::vector<Json> HostedFilter::save() const {
    SaveState state;
    throwIfRefused(server_.instanceOps().save(instance_, &state), "filter '" + server_.name() + "' could not save: ");
    return std::move(state.blocks);
}

void HostedFilter::load(const std::vector<Json> &blocks) {
    for (const bool checkOnly : {true, false}) {
        LoadState state{&blocks, 0, {}, checkOnly};
        if (const char *error = server_.instanceOps().load(instance_, &state)) throw StateError(error, state.next);
    }
}

void HostedFilter::copyFrom(const HostedFilter &source) {
    throwIfRefused(server_.instanceOps().copy(instance_, source.instance_),
                   "filter '" + server_.name() + "' could not copy another instance: ");
}

void HostedFilter::startRender() { throwIfRefused(server_.renderOps().init(instance_, 0)); }

void HostedFilter::newTime(int frame, double time) {
    throwIfRefused(server_.renderOps().newTime(instance_, frame, time));
}

void HostedFilter::finishRender() { server_.renderOps().cleanup(instance_); }

}  // namespace qzhost
