#include <pthread.h>
#include <signal.h>

#include <iostream>
#include <memory>
#include <thread>

#include "qzhost/cli/commands.h"
#include "qzhost/base/error.h"
#include "qzhost/scene/default_scene.h"
#include "qzhost/scene/loaded_scene.h"
#include "qzhost/services/host.h"
#include "qzhost/web/panel_server.h"

namespace qzhost {
namespace {

struct PanelOptions {
    std::string scene;
    std::string sceneOut;
    int port = 8470;
    std::string preview = "320x240";
    std::string shelf = PresetStore::defaultFile().string();
    ModuleFolders modules;
};

// Relative names are taken from the working folder, which may have been
// removed under a shell that still stands in it.
std::filesystem::path absoluteFromWorkingFolder(const std::filesystem::path &path) {
    if (path.is_absolute()) return path;
    std::error_code error;
    const std::filesystem::path folder = std::filesystem::current_path(error);
    if (error) {
        throw HostError("the working folder cannot be found (" + error.message() +
                        "); change to a folder that exists, or name the scene file with an absolute --scene-out");
    }
    return folder / path;
}

// Where a scene without a file of its own is saved: the first of
// vorlux-scene.json, vorlux-scene-2.json, ... that does not exist yet, so
// that no earlier scene is overwritten.
std::filesystem::path freshScenePath() {
    std::filesystem::path path = absoluteFromWorkingFolder("vorlux-scene.json");
    for (int n = 2; std::filesystem::exists(path); ++n) {
        path.replace_filename("vorlux-scene-" + std::to_string(n) + ".json");
    }
    return path;
}

// Where "Save scene" writes: the --scene-out file, else the scene file.
std::filesystem::path saveTarget(const PanelOptions &options) {
    if (!options.sceneOut.empty()) return absoluteFromWorkingFolder(options.sceneOut);
    if (!options.scene.empty()) return absoluteFromWorkingFolder(options.scene);
    return freshScenePath();
}

// Serves until Ctrl-C or SIGTERM. The signals are taken by a thread of our
// own, so the server stops through its ordinary stop() and not from inside
// a signal handler.
void serveUntilSignalled(PanelServer &server) {
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
    std::thread waiter([&] {
        int received = 0;
        sigwait(&signals, &received);
        server.stop();
    });
    server.run();
    // The server may also have stopped by itself; wake the waiter then.
    pthread_kill(waiter.native_handle(), SIGTERM);
    waiter.join();
}

// The panel is of use without presets: a shelf that cannot be opened is
// reported and left out, and the module's preset buttons then do nothing.
// It opens before the panel does, so that the module finds it and subscribes,
// and after the scene is read, so that a bad scene leaves the database alone.
void openShelfIfPossible(Host &host, const std::string &file) {
    try {
        host.openShelf(file);
    } catch (const HostError &e) {
        std::cerr << "qzhost: " << e.what() << "; the panel works without presets" << std::endl;
    }
}

void runPanel(const PanelOptions &options) {
    const Size previewBox = parsePreviewSize(options.preview);
    Host host;
    const bool fromFile = !options.scene.empty();
    LoadedScene scene(host, fromFile ? readSceneFile(options.scene) : defaultScene(),
                      fromFile ? std::filesystem::path(options.scene) : std::filesystem::path(),
                      moduleSearchPath(namedModuleFolders(options.modules)));
    if (scene.size() == 0) throw HostError(options.scene + ": the scene has no filter whose panel to show");
    const std::filesystem::path saveTo = saveTarget(options);
    openShelfIfPossible(host, options.shelf);
    PanelSession session(scene, saveTo, previewSizeFor(previewBox, scene.frames()));
    PanelServer server(session);
    const int port = server.bind(options.port);
    std::cout << "Panel of " << scene.filter(0).describe() << " at http://127.0.0.1:" << port << "/\n"
              << "\"Save scene\" writes " << saveTo.string() << ". Press Ctrl-C to stop." << std::endl;
    serveUntilSignalled(server);
    if (session.unsaved()) std::cerr << "qzhost: the changes since the last save were not saved\n";
    std::cout << "Panel closed." << std::endl;
}

}  // namespace

void addPanelCommand(CLI::App &app) {
    auto options = std::make_shared<PanelOptions>();
    CLI::App *command = app.add_subcommand(
        "panel", "Show the panel of a scene's first filter as a web page on 127.0.0.1, with a live preview.");
    command->add_option("SCENE", options->scene, "The scene file (JSON); without one, the built-in scene's filter is shown.");
    command->add_option("--port", options->port, "The port to listen on; 0 picks a free one.")
        ->capture_default_str()
        ->check(CLI::Range(0, 65535));
    command->add_option("--preview", options->preview, "The space for the preview, WIDTHxHEIGHT, at most 1024x1024; the preview takes "
                        "the largest size within it that has the scene frame's shape.")
        ->capture_default_str();
    command->add_option("--scene-out", options->sceneOut,
                        "Where \"Save scene\" writes; by default the scene file, or a new vorlux-scene.json.");
    command->add_option("--shelf", options->shelf, "The preset shelf's database.")->capture_default_str();
    options->modules = addModulesOption(*command);
    command->callback([options] { runPanel(*options); });
}

}  // namespace qzhost
