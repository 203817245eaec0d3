#include <iostream>
#include <memory>

#include "qzhost/cli/commands.h"
#include "qzhost/base/error.h"
#include "qzhost/base/files.h"
#include "qzhost/presets/preset_file.h"

namespace qzhost {
namespace {

struct PresetOptions {
    std::string shelf = PresetStore::defaultFile().string();
    int64_t id = 0;
    std::string file;
    std::string name;
};

void list(const PresetOptions &options) {
    PresetStore store(options.shelf);
    const std::vector<Preset> presets = store.list();
    if (presets.empty()) std::cout << "no presets in " << store.file().string() << "\n";
    for (const Preset &p : presets) {
        std::cout << p.id << "  " << p.name << "  (" << p.className << " " << p.server << ", " << p.created << ")\n";
    }
}

Preset existing(PresetStore &store, int64_t id) {
    std::optional<Preset> preset = store.get(id);
    if (!preset) throw HostError("there is no preset " + std::to_string(id) + " in " + store.file().string());
    return *preset;
}

}  // namespace

void addPresetsCommand(CLI::App &app) {
    auto options = std::make_shared<PresetOptions>();
    CLI::App *presets = app.add_subcommand("presets", "List, export, import, rename and delete presets on the shelf.");
    presets->require_subcommand(1);
    // `presets list --shelf FILE` as well as `presets --shelf FILE list`.
    presets->fallthrough();
    presets->add_option("--shelf", options->shelf, "The shelf database.")->capture_default_str();

    presets->add_subcommand("list", "List the presets.")->callback([options] { list(*options); });

    CLI::App *exportCommand = presets->add_subcommand("export", "Write a preset to a PNG file that carries its settings.");
    exportCommand->add_option("ID", options->id, "The preset's number, as listed.")->required();
    exportCommand->add_option("FILE", options->file, "The file to write, e.g. spiral.png.")->required();
    exportCommand->callback([options] {
        PresetStore store(options->shelf);
        const std::vector<unsigned char> bytes = presetFileOf(existing(store, options->id));
        writeFileAtomically(options->file, bytes);
        std::cout << "preset " << options->id << " written to " << options->file << "\n";
    });

    CLI::App *importCommand = presets->add_subcommand("import", "Add a preset from a file made by export.");
    importCommand->add_option("FILE", options->file, "The preset file.")->required();
    importCommand->callback([options] {
        const std::string bytes = readInputFile(options->file, "preset file");
        Preset preset = presetFromFile({bytes.begin(), bytes.end()}, options->file);
        PresetStore store(options->shelf);
        const std::string name = preset.name;
        // Added before anything is printed: a failure must not follow a line
        // that claims success.
        const int64_t id = store.add(std::move(preset));
        std::cout << "imported '" << name << "' as preset " << id << "\n";
    });

    CLI::App *renameCommand = presets->add_subcommand("rename", "Give a preset a new name.");
    renameCommand->add_option("ID", options->id, "The preset's number.")->required();
    renameCommand->add_option("NAME", options->name, "The new name.")->required();
    renameCommand->callback([options] {
        PresetStore store(options->shelf);
        if (!store.rename(options->id, options->name)) existing(store, options->id);
    });

    CLI::App *deleteCommand = presets->add_subcommand("delete", "Delete a preset.");
    deleteCommand->add_option("ID", options->id, "The preset's number.")->required();
    deleteCommand->callback([options] {
        PresetStore store(options->shelf);
        if (!store.remove(options->id)) existing(store, options->id);
    });
}

}  // namespace qzhost
