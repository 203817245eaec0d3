// Each sub-command registers itself on the application with its options and
// the action that runs when it is chosen.
#pragma once

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include <CLI/CLI.hpp>

namespace qzhost {

void addDescribeCommand(CLI::App &app);
void addSceneCommand(CLI::App &app);
void addRenderCommand(CLI::App &app);
void addPresetsCommand(CLI::App &app);
void addPanelCommand(CLI::App &app);

// The folders given with --modules DIR (repeatable) on a command that loads
// the modules a scene names; filled when the command line is parsed.
using ModuleFolders = std::shared_ptr<std::vector<std::string>>;
ModuleFolders addModulesOption(CLI::App &command);

// Those folders, made absolute: the first of moduleSearchPath().
std::vector<std::filesystem::path> namedModuleFolders(const ModuleFolders &named);

}  // namespace qzhost
