// A scene brought to life in a host: its module files loaded, their filter
// servers activated with the host's lookup, and one instance per filter
// holding its saved state.
#pragma once

#include <filesystem>
#include <map>
#include <memory>
#include <vector>

#include "qzhost/loader/filter.h"
#include "qzhost/scene/scene.h"
#include "qzhost/services/host.h"

namespace qzhost {

// The folder of modules that ships with qzhost: "modules" beside the
// executable in a build tree, lib/qzhost/modules in an installed one.
std::filesystem::path modulesFolder();

// A module named in a scene: relative to the scene's folder first, then to
// the modules folder. Throws HostError naming where it looked.
std::filesystem::path findModule(const std::string &written, const std::filesystem::path &sceneFolder,
                                 const std::string &where);

class LoadedScene {
public:
    // sceneFile may be empty for a scene that lives only in memory; its
    // modules are then looked for in the working folder and the modules folder.
    LoadedScene(Host &host, SceneDocument document, std::filesystem::path sceneFile);
    LoadedScene(const LoadedScene &) = delete;
    LoadedScene &operator=(const LoadedScene &) = delete;

    Host &host() const { return host_; }
    const FrameSettings &frames() const { return document_.frames; }
    const std::filesystem::path &file() const { return file_; }
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
    // Declared in the order of their lifetimes: instances go before the
    // servers that made them, and servers before their modules unload.
    std::map<std::filesystem::path, std::unique_ptr<LoadedModule>> modules_;
    std::vector<std::unique_ptr<FilterServer>> servers_;
    std::vector<std::unique_ptr<HostedFilter>> filters_;
};

}  // namespace qzhost
