// The named services a module can look up. The host's lookup function takes
// no context, so one registry is installed for the whole process while
// modules run.
#pragma once

#include <map>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "host/abi.h"

namespace qzhost {

class ServiceRegistry {
public:
    void offer(const std::string &name, const void *table);
    void withdraw(const std::string &name);
    const void *find(std::string_view name) const;

    // The names modules asked for through the lookup, in order.
    std::vector<std::string> lookups() const;

    // The lookup handed to modules. It answers from the installed registry,
    // and null for anything it does not offer or when none is installed.
    static HostGlobal global();

    // Installs a registry for the lifetime of this object.
    class Installation {
    public:
        explicit Installation(ServiceRegistry &registry);
        ~Installation();
        Installation(const Installation &) = delete;
        Installation &operator=(const Installation &) = delete;

    private:
        ServiceRegistry *previous_;
    };

private:
    static void *lookup(const char *name, int use);

    mutable std::mutex mutex_;
    std::map<std::string, const void *, std::less<>> tables_;
    std::vector<std::string> lookups_;
};

}  // namespace qzhost
