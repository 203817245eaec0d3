#include "qzhost/services/shelf.h"

#include <algorithm>

#include "qzhost/base/error.h"
#include "qzhost/image/frame.h"
#include "qzhost/image/png.h"
#include "qzhost/loader/filter.h"
#include "qzhost/services/host.h"

namespace qzhost {
namespace {

std::vector<unsigned char> thumbnailPng(const HostImage &image) {
    std::vector<unsigned char> rgb(image.rgb.size());
    for (size_t i = 0; i < rgb.size(); ++i) rgb[i] = static_cast<unsigned char>(quantise(image.rgb[i], 255));
    return encodeRgb8(image.width, image.height, rgb);
}

}  // namespace

// The lookup gives no context, so the table's functions reach the shelf
// through the running host, and ignore client handles it never gave out.
struct ShelfCalls {
    static Shelf &shelf() { return *Host::current().shelf(); }

    // The host never asks a client's query callback anything: no answer of
    // it changes what the shelf does.
    static void *subscribe(const char *cls, const char *name, void *data, int, ShelfQueryFunc, ShelfLoadFunc load,
                           ShelfSaveFunc save) {
        Shelf &s = shelf();
        s.clients_.push_back(
            std::make_unique<ShelfClient>(ShelfClient{cls ? cls : "", name ? name : "", data, load, save}));
        s.changed();
        return s.clients_.back().get();
    }

    static void unsubscribe(void *handle) {
        Shelf &s = shelf();
        if (s.selected_ == handle) s.selected_ = nullptr;
        std::erase_if(s.clients_, [&](const auto &client) { return client.get() == handle; });
        s.changed();
    }

    static void open(void *handle) {
        if (ShelfClient *client = shelf().find(handle)) {
            client->open = true;
            shelf().selected_ = client;
            shelf().changed();
        }
    }

    static int isOpen(void *handle) {
        const ShelfClient *client = shelf().find(handle);
        return client && client->open ? 1 : 0;
    }

    static void select(void *handle) {
        if (ShelfClient *client = shelf().find(handle)) {
            shelf().selected_ = client;
            shelf().changed();
        }
    }

    static void addPreset(void *handle, void *image, void *) {
        Shelf &s = shelf();
        ShelfClient *client = s.find(handle);
        const HostImage *thumbnail = Host::current().images().find(image);
        if (!client || !client->save || !thumbnail) return;
        SaveState state;
        if (const char *error = client->save(client->data, &state)) {
            s.lastAddFailure_ = HostError(std::string("the preset was not added: ") + error, kExitFailed);
            return;
        }
        try {
            s.store_.add(Preset{0, client->className, client->name, "", "", std::move(state.blocks), thumbnailPng(*thumbnail)});
            s.lastAddFailure_.reset();
        } catch (const HostError &e) {
            s.lastAddFailure_ = e;
        }
        s.changed();
    }
};

namespace {
const ShelfService kShelfTable{ShelfCalls::subscribe, ShelfCalls::unsubscribe, ShelfCalls::open,
                               ShelfCalls::isOpen,    nullptr,                 ShelfCalls::select,
                               ShelfCalls::addPreset};
}  // namespace

const ShelfService *Shelf::table() const { return &kShelfTable; }

ShelfClient *Shelf::find(void *handle) const {
    for (const auto &client : clients_) {
        if (client.get() == handle) return client.get();
    }
    return nullptr;
}

ShelfClient *Shelf::clientOf(void *instance) const {
    for (const auto &client : clients_) {
        if (client->data == instance) return client.get();
    }
    return nullptr;
}

void Shelf::close(ShelfClient &client) {
    client.open = false;
    changed();
}

std::vector<Preset> Shelf::presetsFor(const ShelfClient &client) const {
    std::vector<Preset> presets = store_.list();
    std::erase_if(presets, [&](const Preset &p) { return !client.owns(p); });
    return presets;
}

Preset Shelf::presetFor(const ShelfClient &client, int64_t id) const {
    std::optional<Preset> preset = store_.get(id);
    if (!preset || !client.owns(*preset)) {
        throw BadRequest("there is no preset " + std::to_string(id) + " for this panel");
    }
    return std::move(*preset);
}

void Shelf::apply(int64_t id, ShelfClient &client) {
    const Preset preset = presetFor(client, id);
    // Checked whole before any of it is taken, as HostedFilter::load does.
    LoadState state{&preset.settings, 0, {}, true};
    client.load(client.data, &state);
    if (state.error.empty()) {
        state = LoadState{&preset.settings, 0, {}};
        client.load(client.data, &state);
    }
    changed();
    if (!state.error.empty()) throw StateError(state.error, state.next);
}

}  // namespace qzhost
