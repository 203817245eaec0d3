// A scene brought to life in a host: its module files loaded, their filter
// servers activated with the host's lookup, and one instance per filter
// holding its saved state.
#pragma once

#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "qzhost/loader/filter.h"
#include "qzhost/scene/scene.h"
#include "qzhost/services/host.h"

namespace qzhost {

// The folder of modules that ships with qzhost: "modules" beside the
// executable in a build tree, lib/qzhost/modules in an installed one.
std::filesystem::path modulesFolder();

// The user's own modules: $XDG_DATA_HOME/qzhost/modules, by default
// ~/.local/share/qzhost/modules.
std::filesystem::path userModulesFolder();

// The folders trusted to hold modules, searched in this order: those named
// on the command line (--modules), those in QZHOST_MODULE_PATH (separated by
// colons), the user's modules folder, and the one that ships with qzhost.
// Neither a scene's folder nor the working folder is among them, so that
// opening a scene never runs code that merely lies beside it.
std::vector<std::filesystem::path> moduleSearchPath(const std::vector<std::filesystem::path> &named = {});

// The file of a module named in a scene. A bare file name is looked for in
// the trusted folders; a path (with a '/', relative to the scene's folder)
// is taken only when it leads into one of them. Throws HostError naming
// where it looked, or the folder to trust and how.
std::filesystem::path findModule(const std::string &written, const std::filesystem::path &sceneFolder,
                                 const std::vector<std::filesystem::path> &trusted, const std::string &where);

class LoadedScene {
public:
    // sceneFile may be empty for a scene that lives only in memory. Modules
    // are loaded only from the trusted folders.
    LoadedScene(Host &host, SceneDocument document, std::filesystem::path sceneFile,
                std::vector<std::filesystem::path> trustedModuleFolders = moduleSearchPath());
    LoadedScene(const LoadedScene &) = delete;
    LoadedScene &operator=(const LoadedScene &) = delete;

    Host &host() const { return host_; }
    const FrameSettings &frames() const { return document_.frames; }
    const std::filesystem::path &file() const { return file_; }
    const std::vector<std::filesystem::path> &trustedModuleFolders() const { return trustedModuleFolders_; }
    size_t size() const { return filters_.size(); }
    HostedFilter &filter(size_t index) { return *filters_.at(index); }

    // The document with every filter's state as its instance saves it now.
    SceneDocument snapshot() const;
    void save(const std::filesystem::path &file) const;

private:
    const FilterServer &serverFor(const FilterEntry &entry);

    Host &host_;
    SceneDocument document_;
    std::filesystem::path file_;
    std::vector<std::filesystem::path> trustedModuleFolders_;
    // Declared in the order of their lifetimes: instances go before the
    // servers that made them, and servers before their modules unload.
    std::map<std::filesystem::path, std::unique_ptr<LoadedModule>> modules_;
    std::vector<std::unique_ptr<FilterServer>> servers_;
    std::vector<std::unique_ptr<HostedFilter>> filters_;
};

}  // namespace qzhost
