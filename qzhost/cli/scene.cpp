#include <iostream>
#include <memory>

#include "qzhost/cli/commands.h"
#include "qzhost/base/error.h"
#include "qzhost/scene/default_scene.h"
#include "qzhost/scene/loaded_scene.h"
#include "qzhost/services/host.h"

namespace qzhost {

void addSceneCommand(CLI::App &app) {
    CLI::App *scene = app.add_subcommand("scene", "Inspect scene files.");
    scene->require_subcommand(1);

    auto file = std::make_shared<std::string>();
    CLI::App *show = scene->add_subcommand("show", "Load a scene, its modules and filters, and describe each filter.");
    show->add_option("SCENE", *file, "The scene file (JSON).")->required();
    const ModuleFolders modules = addModulesOption(*show);
    show->callback([file, modules] {
        Host host;
        LoadedScene loaded(host, readSceneFile(*file), *file, moduleSearchPath(namedModuleFolders(modules)));
        const FrameSettings &f = loaded.frames();
        std::cout << *file << ": " << f.width << "x" << f.height << ", pixel aspect " << f.pixelAspect << ", "
                  << f.fps << " fps, frames " << f.first << "-" << f.last << "\n";
        for (size_t i = 0; i < loaded.size(); ++i) {
            std::cout << "  filter " << i + 1 << ": " << loaded.filter(i).describe() << "\n";
        }
    });

    auto target = std::make_shared<std::string>();
    auto force = std::make_shared<bool>(false);
    CLI::App *create = scene->add_subcommand("new", "Write the built-in scene to a file, as a start for your own.");
    create->add_option("FILE", *target, "The scene file to write.")->required();
    create->add_flag("--force", *force, "Replace the file if it exists.");
    create->callback([target, force] {
        // A name the system cannot take (too long, a loop of links) is bad
        // input, told before anything is written.
        std::error_code error;
        const bool exists = std::filesystem::exists(*target, error);
        if (error) throw HostError("cannot write '" + *target + "': " + error.message());
        if (exists && !*force) throw HostError("'" + *target + "' exists; use --force to replace it");
        writeSceneFile(*target, defaultScene());
        std::cout << "wrote " << *target << " (module vorlux.p, found in " << modulesFolder().string()
                  << " or another trusted modules folder)\n";
    });
}

}  // namespace qzhost
