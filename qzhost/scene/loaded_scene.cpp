#include "qzhost/scene/loaded_scene.h"

#include <cstdlib>
#include <string_view>

#include "qzhost/base/error.h"
#include "qzhost/base/files.h"
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

std::filesystem::path userModulesFolder() { return userDataFolder() / "modules"; }

std::vector<std::filesystem::path> moduleSearchPath(const std::vector<std::filesystem::path> &named) {
    std::vector<std::filesystem::path> folders = named;
    if (const char *variable = std::getenv("QZHOST_MODULE_PATH")) {
        std::string_view rest = variable;
        while (!rest.empty()) {
            const size_t colon = std::min(rest.find(':'), rest.size());
            // An empty entry would mean the working folder to some readers of
            // such lists; here it means nothing.
            if (colon > 0) folders.emplace_back(rest.substr(0, colon));
            rest.remove_prefix(std::min(colon + 1, rest.size()));
        }
    }
    folders.push_back(userModulesFolder());
    folders.push_back(modulesFolder());
    return folders;
}

namespace {

std::string listed(const std::vector<std::filesystem::path> &folders) {
    std::string list;
    for (const auto &folder : folders) list += (list.empty() ? "'" : ", '") + folder.string() + "'";
    return list;
}

bool isTrusted(const std::filesystem::path &folder, const std::vector<std::filesystem::path> &trusted) {
    std::error_code error;
    const auto real = std::filesystem::weakly_canonical(folder, error);
    if (error) return false;
    for (const auto &candidate : trusted) {
        if (std::filesystem::weakly_canonical(candidate, error) == real && !error) return true;
    }
    return false;
}

}  // namespace

std::filesystem::path findModule(const std::string &written, const std::filesystem::path &sceneFolder,
                                 const std::vector<std::filesystem::path> &trusted, const std::string &where) {
    std::error_code ignored;
    if (written.find('/') != std::string::npos) {
        const std::filesystem::path file = sceneFolder / written;
        if (isTrusted(file.parent_path(), trusted)) return file;
        const auto folder = std::filesystem::weakly_canonical(file.parent_path(), ignored);
        throw HostError(where + ": module '" + written + "' is in '" + folder.string() +
                        "', which is not a trusted modules folder; to allow it, run with --modules '" +
                        folder.string() + "' or add it to QZHOST_MODULE_PATH");
    }
    for (const auto &folder : trusted) {
        if (std::filesystem::is_regular_file(folder / written, ignored)) return folder / written;
    }
    throw HostError(where + ": module '" + written + "' not found in " + listed(trusted) +
                    " (add its folder with --modules DIR or QZHOST_MODULE_PATH)");
}

LoadedScene::LoadedScene(Host &host, SceneDocument document, std::filesystem::path sceneFile,
                         std::vector<std::filesystem::path> trustedModuleFolders)
    : host_(host),
      document_(std::move(document)),
      file_(std::move(sceneFile)),
      trustedModuleFolders_(std::move(trustedModuleFolders)) {
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
    const auto file = std::filesystem::weakly_canonical(findModule(entry.module, file_.parent_path(), trustedModuleFolders_, entry.where));
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
