#include "qzhost/cli/commands.h"

#include "qzhost/scene/loaded_scene.h"

namespace qzhost {

ModuleFolders addModulesOption(CLI::App &command) {
    auto folders = std::make_shared<std::vector<std::string>>();
    command
        .add_option("--modules", *folders,
                    "A folder trusted to hold the modules scenes name; may be repeated. Searched before\n"
                    "QZHOST_MODULE_PATH, " + userModulesFolder().string() + "\nand " + modulesFolder().string() + ".")
        ->check(CLI::ExistingDirectory)
        ->allow_extra_args(false);
    return folders;
}

std::vector<std::filesystem::path> namedModuleFolders(const ModuleFolders &named) {
    std::vector<std::filesystem::path> folders;
    for (const std::string &folder : *named) {
        std::error_code error;
        const auto absolute = std::filesystem::absolute(folder, error);
        folders.push_back(error ? std::filesystem::path(folder) : absolute);
    }
    return folders;
}

}  // namespace qzhost
