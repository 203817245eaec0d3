// "QZShelfFuncs": the preset shelf. Plug-in instances subscribe while their
// panel is open; presets are stored in a PresetStore with a thumbnail and
// applied back through the subscriber's load callback.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "host/abi.h"
#include "qzhost/base/error.h"
#include "qzhost/presets/preset_store.h"

namespace qzhost {

struct ShelfClient {
    std::string className;
    std::string name;
    void *data;
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
    // The client an instance subscribed with, or null.
    ShelfClient *clientOf(void *instance) const;
    void close(ShelfClient &client);

    // The presets a client can take: those of its own class and server.
    std::vector<Preset> presetsFor(const ShelfClient &client) const;
    // One of the presets the client can take; throws BadRequest when there
    // is no such preset or it belongs to another kind of plug-in.
    Preset presetFor(const ShelfClient &client, int64_t id) const;
    // Loads a preset into the client, whole or not at all, found as
    // presetFor finds it. The load callback reports nothing, so a parameter
    // block the client refused is reported here, as a StateError with the
    // module's text, after the client has been told of the load. The callback
    // runs twice for a preset it takes: a checking pass first (see
    // LoadState::checkOnly).
    void apply(int64_t id, ShelfClient &client);

    // Counts every change a display of the shelf should show.
    uint64_t changes() const { return changes_; }
    // The error the last add of a preset would have thrown, kept because
    // the add call cannot report it; nothing once an add has succeeded.
    const std::optional<HostError> &lastAddFailure() const { return lastAddFailure_; }

private:
    friend struct ShelfCalls;
    ShelfClient *find(void *handle) const;
    void changed() { ++changes_; }

    PresetStore &store_;
    std::vector<std::unique_ptr<ShelfClient>> clients_;
    ShelfClient *selected_ = nullptr;
    std::atomic<uint64_t> changes_{0};
    std::optional<HostError> lastAddFailure_;
};

}  // namespace qzhost
