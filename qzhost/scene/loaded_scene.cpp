#include "qzhost/scene/loaded_scene.h"

#include "qzhost/base/error.h"
#include "qzhost/base/version.h"

namespace qzhost {

std::filesystem::path modulesFolder() {
    std::error_code error;
    const auto self = std::filesystem::read_symlink("/proc/self/exe", error);
    if (error) return "modules";
    const std::filesystem::path beside = self.parent_path() / "modules";
    const std::filesystem::path installed = (self.parent_path() / kInstalledModulesFromBin).lexically_normal();
    if (!std::filesystem::is_directory(beside, error) && std::filesystem::is_directory(installed, error)) {
        return installed;
    }
    return beside;
}

std::filesystem::path findModule(const std::string &written, const std::filesystem::path &sceneFolder,
                                 const std::string &where) {
    const std::filesystem::path name(written);
    if (name.is_absolute()) return name;
    std::error_code ignored;
    for (const auto &folder : {sceneFolder, modulesFolder()}) {
        if (std::filesystem::is_regular_file(folder / name, ignored)) return folder / name;
    }
    const std::string shownFolder = sceneFolder.empty() ? std::string(".") : sceneFolder.string();
    throw HostError(where + ": module '" + written + "' not found in '" + shownFolder + "' or '" +
                    modulesFolder().string() + "'");
}

LoadedScene::LoadedScene(Host &host, SceneDocument document, std::filesystem::path sceneFile)
    : host_(host), document_(std::move(document)), file_(std::move(sceneFile)) {
    for (size_t i = 0; i < document_.filters.size(); ++i) {
        const FilterEntry &entry = document_.filters[i];
        auto filter = std::make_unique<HostedFilter>(serverFor(entry));
        if (entry.state) {
            try {
                filter->load(*entry.state);
            } catch (const StateError &e) {
                const std::string &where = e.block < entry.blockWhere.size() ? entry.blockWhere[e.block] : entry.where;
                throw HostError(where + ": filter " + std::to_string(i + 1) + " (" + entry.server +
                                ") refused its state: " + e.what());
            }
        }
        filters_.push_back(std::move(filter));
    }
}

const FilterServer &LoadedScene::serverFor(const FilterEntry &entry) {
    const auto file = std::filesystem::weakly_canonical(findModule(entry.module, file_.parent_path(), entry.where));
    auto &module = modules_[file];
    try {
        if (!module) module = std::make_unique<LoadedModule>(file);
        for (const auto &server : servers_) {
            if (&server->module() == module.get() && server->name() == entry.server) return *server;
        }
        servers_.push_back(std::make_unique<FilterServer>(*module, entry.server, host_.lookup()));
    } catch (const HostError &e) {
        if (!module) modules_.erase(file);
        throw HostError(entry.where + ": " + e.what(), e.exitCode());
    }
    return *servers_.back();
}

SceneDocument LoadedScene::snapshot() const {
    SceneDocument current = document_;
    for (size_t i = 0; i < filters_.size(); ++i) current.filters[i].state = filters_[i]->save();
    return current;
}

void LoadedScene::save(const std::filesystem::path &file) const { writeSceneFile(file, snapshot()); }

}  // namespace qzhost
