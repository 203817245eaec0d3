// Each sub-command registers itself on the application with its options and
// the action that runs when it is chosen.
#pragma once

#include <CLI/CLI.hpp>

namespace qzhost {

void addDescribeCommand(CLI::App &app);
void addSceneCommand(CLI::App &app);
void addRenderCommand(CLI::App &app);
void addPresetsCommand(CLI::App &app);
void addPanelCommand(CLI::App &app);

}  // namespace qzhost
