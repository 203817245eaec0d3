#include <iostream>
#include <memory>

#include "qzhost/cli/commands.h"
#include "qzhost/loader/module.h"
#include "qzhost/base/version.h"

namespace qzhost {

void addDescribeCommand(CLI::App &app) {
    auto file = std::make_shared<std::string>();
    CLI::App *command = app.add_subcommand("describe", "Load a module file and list the servers it offers.");
    command->add_option("MODULE", *file, "The module file, for example bin/modules/vorlux.p.")->required();
    command->callback([file] {
        LoadedModule module(*file);
        std::cout << "qzhost " << kVersion << '\n';
        std::cout << module.file().string() << ": " << module.servers().size() << " servers\n";
        for (const ServerEntry &server : module.servers()) {
            std::cout << "  " << server.className << "  \"" << server.name << "\"\n";
        }
    });
}

}  // namespace qzhost
