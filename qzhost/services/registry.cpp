#include "qzhost/services/registry.h"

#include <atomic>

namespace qzhost {
namespace {

std::atomic<ServiceRegistry *> installed{nullptr};

}  // namespace

void ServiceRegistry::offer(const std::string &name, const void *table) {
    std::lock_guard lock(mutex_);
    tables_[name] = table;
}

void ServiceRegistry::withdraw(const std::string &name) {
    std::lock_guard lock(mutex_);
    tables_.erase(name);
}

const void *ServiceRegistry::find(std::string_view name) const {
    std::lock_guard lock(mutex_);
    const auto found = tables_.find(name);
    return found == tables_.end() ? nullptr : found->second;
}

std::vector<std::string> ServiceRegistry::lookups() const {
    std::lock_guard lock(mutex_);
    return lookups_;
}

HostGlobal ServiceRegistry::global() { return &ServiceRegistry::lookup; }

void *ServiceRegistry::lookup(const char *name, int) {
    ServiceRegistry *registry = installed.load();
    if (!registry || !name) return nullptr;
    {
        std::lock_guard lock(registry->mutex_);
        registry->lookups_.emplace_back(name);
    }
    return const_cast<void *>(registry->find(name));
}

ServiceRegistry::Installation::Installation(ServiceRegistry &registry) : previous_(installed.exchange(&registry)) {}

ServiceRegistry::Installation::~Installation() { installed.store(previous_); }

}  // namespace qzhost
