#include "qzhost/services/panel.h"

#include "qzhost/services/host.h"

namespace qzhost {
namespace {

constexpr intptr_t kArgumentCountMask = 0x7F;
constexpr intptr_t kIdListFlag = 0x80;

// A controls table longer than this is taken to have lost its terminator.
constexpr size_t kMaxControls = 256;

template <typename Function>
Function asFunction(intptr_t word) {
    return reinterpret_cast<Function>(word);
}

unsigned long asId(intptr_t word) { return static_cast<unsigned long>(word); }

// One hint as read: its tag, its fixed arguments and its id list.
struct Hint {
    intptr_t tag;
    std::vector<intptr_t> arguments;
    std::vector<unsigned long> ids;
};

void apply(const Hint &hint, PanelHints &hints) {
    const auto &a = hint.arguments;
    switch (hint.tag) {
        case HOST_HINT_TITLE:
            if (a[1]) hints.title = reinterpret_cast<const char *>(a[1]);
            break;
        case HOST_HINT_CHANGE_NOTIFY: hints.changeNotify = asFunction<PanelChangeFunc>(a[0]); break;
        case HOST_HINT_DESTROY_NOTIFY: hints.destroyNotify = asFunction<PanelDestroyFunc>(a[0]); break;
        case HOST_HINT_BUTTON: hints.buttons[asId(a[0])] = asFunction<ButtonFunc>(a[1]); break;
        case HOST_HINT_PREVIEW_DRAW: hints.previewDraw[asId(a[0])] = asFunction<PreviewDrawFunc>(a[1]); break;
        case HOST_HINT_PREVIEW_DRAG:
            hints.previewDrag[asId(a[0])] = {asFunction<PreviewZoomFunc>(a[1]), static_cast<int>(a[2])};
            break;
        case HOST_HINT_GROUP: hints.groups[asId(a[0])] = hint.ids; break;
        // Known, and nothing to keep: the page lays controls out by their
        // groups and their order.
        case HOST_HINT_PREVIEW_LAYOUT:
        case HOST_HINT_VALUE_LAYOUT: break;
        case HOST_HINT_MINIMUM: hints.guides[asId(a[0])].minimum = static_cast<long>(a[1]); break;
        case HOST_HINT_MAXIMUM: hints.guides[asId(a[0])].maximum = static_cast<long>(a[1]); break;
        case HOST_HINT_STEP: hints.guides[asId(a[0])].step = static_cast<long>(a[1]); break;
        default: hints.unknownTags.push_back(hint.tag);
    }
}

}  // namespace

bool readHints(const intptr_t *words, PanelHints &hints) {
    size_t at = 0;
    const auto next = [&](intptr_t &word) {
        if (at >= kMaxHintWords) return false;
        word = words[at++];
        return true;
    };
    for (;;) {
        Hint hint;
        if (!next(hint.tag)) return false;
        if (hint.tag == 0) return true;
        hint.arguments.resize(hint.tag & kArgumentCountMask);
        for (intptr_t &argument : hint.arguments) {
            if (!next(argument)) return false;
        }
        if (hint.tag & kIdListFlag) {
            for (intptr_t id;;) {
                if (!next(id)) return false;
                if (id == 0) break;
                hint.ids.push_back(asId(id));
            }
        }
        apply(hint, hints);
    }
}

const Control *Panel::control(unsigned long id) const {
    for (const Control &c : controls) {
        if (c.id == id) return &c;
    }
    return nullptr;
}

// The table's functions: the lookup gives no context, so they reach the
// panels through the installed host.
struct PanelCalls {
    static PanelStore &store() { return Host::current().panels(); }

    static std::vector<Control> readControls(const ControlEntry *entries) {
        std::vector<Control> controls;
        for (size_t i = 0; entries && i < kMaxControls && entries[i].id != 0; ++i) {
            const ControlEntry &e = entries[i];
            controls.push_back({e.id, e.label ? e.label : "", e.type ? e.type : ""});
        }
        return controls;
    }

    static void *create(int type, const ControlEntry *controls) {
        auto panel = std::make_unique<Panel>();
        panel->type = type;
        panel->controls = readControls(controls);
        Panel *handle = panel.get();
        store().panels_.emplace(handle, std::move(panel));
        return handle;
    }

    static void describe(void *handle, const DataEntry *data, PanelGetFunc get, PanelSetFunc set) {
        Panel &panel = store().get(handle);
        panel.data = readControls(data);
        panel.get = get;
        panel.set = set;
    }

    static void hint(void *handle, unsigned long, const intptr_t *hints) {
        if (hints) readHints(hints, store().get(handle).hints);
    }

    static void *userData(void *handle, unsigned long id) {
        const auto &data = store().get(handle).userData;
        const auto found = data.find(id);
        return found == data.end() ? nullptr : found->second;
    }

    static void setUserData(void *handle, unsigned long id, void *data) { store().get(handle).userData[id] = data; }

    static void viewInstance(void *handle, void *instance) { store().get(handle).instance = instance; }

    static void refresh(void *handle) { ++store().get(handle).refreshes; }

    static void drawPixel(void *region, int r, int g, int b, int x, int y) {
        Raster &raster = *static_cast<Raster *>(region);
        if (x < 0 || y < 0 || x >= raster.width || y >= raster.height) return;
        uint8_t *pixel = &raster.rgb[(static_cast<size_t>(y) * raster.width + x) * 3];
        pixel[0] = static_cast<uint8_t>(r);
        pixel[1] = static_cast<uint8_t>(g);
        pixel[2] = static_cast<uint8_t>(b);
    }
};

namespace {
const DrawingTable kDrawingTable{nullptr, PanelCalls::drawPixel};
const PanelService kPanelTable{nullptr,
                               &kDrawingTable,
                               PanelCalls::create,
                               nullptr,
                               PanelCalls::describe,
                               PanelCalls::hint,
                               PanelCalls::userData,
                               PanelCalls::setUserData,
                               {nullptr, nullptr},
                               PanelCalls::viewInstance,
                               PanelCalls::refresh};
}  // namespace

PanelStore::PanelStore() = default;
PanelStore::~PanelStore() = default;
const PanelService *PanelStore::table() const { return &kPanelTable; }

void PanelStore::destroy(void *handle) {
    Panel &panel = get(handle);
    if (panel.hints.destroyNotify) panel.hints.destroyNotify(PanelCalls::userData(handle, 0));
    panels_.erase(&panel);
}

}  // namespace qzhost
