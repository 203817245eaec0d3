// "QZShelfFuncs": the preset shelf. Plug-in instances subscribe while their
// panel is open; presets are stored in a PresetStore with a thumbnail and
// applied back through the subscriber's load callback.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "host/abi.h"
#include "qzhost/services/preset_store.h"

namespace qzhost {

struct ShelfClient {
    std::string className;
    std::string name;
    void *data;
    ShelfQueryFunc query;
    ShelfLoadFunc load;
    ShelfSaveFunc save;
    bool open = false;

    // Presets belong to the plug-in class and server that made them.
    bool owns(const Preset &preset) const { return preset.className == className && preset.server == name; }
};

class Shelf {
public:
    explicit Shelf(PresetStore &store) : store_(store) {}
    const ShelfService *table() const;
    PresetStore &store() { return store_; }

    const std::vector<std::unique_ptr<ShelfClient>> &clients() const { return clients_; }
    ShelfClient *selected() const { return selected_; }
    void close(ShelfClient &client);

    // The presets a client can take: those of its own class and server.
    std::vector<Preset> presetsFor(const ShelfClient &client) const;
    // Loads a preset into the client; throws HostError when there is no such
    // preset or it belongs to another kind of plug-in. The load callback
    // reports nothing, so a parameter block the client refused is answered
    // here: its text, or empty when everything loaded.
    std::string apply(int64_t id, ShelfClient &client);

    // Counts every change a display of the shelf should show.
    uint64_t changes() const { return changes_; }
    // The last failure to store a preset, which the add call cannot report.
    const std::string &lastError() const { return lastError_; }

private:
    friend struct ShelfCalls;
    ShelfClient *find(void *handle) const;
    void changed() { ++changes_; }

    PresetStore &store_;
    std::vector<std::unique_ptr<ShelfClient>> clients_;
    ShelfClient *selected_ = nullptr;
    std::atomic<uint64_t> changes_{0};
    std::string lastError_;
};

}  // namespace qzhost
