// Loading a module file: the descriptor, start-up, the server table, and
// shutdown and unload when the module goes out of scope.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "host/abi.h"

namespace qzhost {

struct ServerEntry {
    std::string className;
    std::string name;
    ActivateFunc activate;
};

class LoadedModule {
public:
    // A table longer than this is taken to have lost its terminator.
    static constexpr int kMaxServers = 256;

    // Throws HostError naming the file and what is wrong with it.
    explicit LoadedModule(const std::filesystem::path &file);
    ~LoadedModule();
    LoadedModule(const LoadedModule &) = delete;
    LoadedModule &operator=(const LoadedModule &) = delete;

    const std::filesystem::path &file() const { return file_; }
    const std::vector<ServerEntry> &servers() const { return servers_; }

    // The server of a class and name, or null.
    const ServerEntry *findServer(std::string_view className, std::string_view name) const;
    // The same, throwing HostError when the module lacks it.
    const ServerEntry &server(std::string_view className, std::string_view name) const;

private:
    void checkDescriptor() const;
    void readServers();

    std::filesystem::path file_;
    void *handle_ = nullptr;
    const ModuleDescriptor *descriptor_ = nullptr;
    void *startupResult_ = nullptr;
    std::vector<ServerEntry> servers_;
};

}  // namespace qzhost
