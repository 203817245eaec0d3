#include "interface/panel.h"

#include "filter/host_services.h"
#include "interface/preview.h"
#include "interface/shelf.h"

namespace vorlux {
namespace {

const ControlEntry kControls[] = {
    {.id = ID_PREVIEW, .label = "Preview", .type = HOST_CONTROL_THUMBNAIL},
    {.id = ID_CENTER_X, .label = "Center X", .type = HOST_CONTROL_FLOAT_ENV},
    {.id = ID_CENTER_Y, .label = "Center Y", .type = HOST_CONTROL_FLOAT_ENV},
    {.id = ID_ZOOM, .label = "Zoom", .type = HOST_CONTROL_FLOAT_ENV},
    {.id = ID_OPEN_SHELF, .label = "Open Preset Shelf", .type = HOST_CONTROL_BUTTON},
    {.id = ID_ADD_PRESET, .label = "Add Preset", .type = HOST_CONTROL_BUTTON},
    {},
};

const DataEntry kData[] = {
    {.id = ID_CENTER_X, .label = "Center X", .type = HOST_CONTROL_FLOAT_ENV},
    {.id = ID_CENTER_Y, .label = "Center Y", .type = HOST_CONTROL_FLOAT_ENV},
    {.id = ID_ZOOM, .label = "Zoom", .type = HOST_CONTROL_FLOAT_ENV},
    {},
};

template <typename Function>
intptr_t word(Function *function) {
    return reinterpret_cast<intptr_t>(function);
}

const intptr_t kHints[] = {
    HOST_HINT_TITLE, 0, reinterpret_cast<intptr_t>("Vorlux"), 0,
    HOST_HINT_CHANGE_NOTIFY, word(panelChangeNotify),
    HOST_HINT_DESTROY_NOTIFY, word(panelDestroyNotify), 0,
    HOST_HINT_BUTTON, ID_OPEN_SHELF, word(openShelfButton),
    HOST_HINT_BUTTON, ID_ADD_PRESET, word(addPresetButton),
    HOST_HINT_PREVIEW_DRAW, ID_PREVIEW, word(previewDraw),
    HOST_HINT_PREVIEW_DRAG, ID_PREVIEW, word(previewZoom), HOST_PREVIEW_DRAG_MODE,
    HOST_HINT_GROUP, ID_GROUP, ID_PREVIEW, ID_CENTER_X, ID_CENTER_Y, ID_ZOOM, ID_OPEN_SHELF, ID_ADD_PRESET, 0,
    HOST_HINT_PREVIEW_LAYOUT, ID_PREVIEW, 0,
    HOST_HINT_VALUE_LAYOUT, ID_CENTER_X, ID_CENTER_Y, ID_ZOOM, 0,
    HOST_HINT_MINIMUM, ID_CENTER_X, -2,
    HOST_HINT_MAXIMUM, ID_CENTER_X, 1,
    HOST_HINT_STEP, ID_CENTER_X, 1,
    HOST_HINT_MINIMUM, ID_CENTER_Y, -2,
    HOST_HINT_MAXIMUM, ID_CENTER_Y, 2,
    HOST_HINT_STEP, ID_CENTER_Y, 1,
    HOST_HINT_MINIMUM, ID_ZOOM, 1,
    HOST_HINT_MAXIMUM, ID_ZOOM, 65536,
    HOST_HINT_STEP, ID_ZOOM, 5,
    HOST_HINT_END,
};

FilterInstance &asInstance(void *inst) { return *static_cast<FilterInstance *>(inst); }

}  // namespace

int interfaceActivate(int version, HostGlobal global, void *record, void *) {
    // A record of another version may be laid out otherwise: read nothing of it.
    if (version != HOST_INTERFACE_VERSION) return ACTIVATE_BAD_VERSION;
    auto &interface = *static_cast<InterfaceRecord *>(record);
    FilterInstance &inst = asInstance(interface.inst);

    // Without a panel service the activation fails but keeps the services of
    // the last good one, which panels built earlier still call.
    const auto *panelService = lookUp<PanelService>(global, HOST_PANEL);
    if (!panelService) return ACTIVATE_MISSING_SERVICE;
    hostServices.panel = panelService;
    hostServices.shelf = lookUp<ShelfService>(global, HOST_SHELF);
    hostServices.image = lookUp<ImageService>(global, HOST_IMAGE);

    interface.panel = buildPanel(inst);
    if (!interface.panel) return ACTIVATE_MISSING_SERVICE;
    if (hostServices.shelf) {
        inst.handles.shelfClient = hostServices.shelf->subscribe(HOST_FILTER_CLASS, "Vorlux", &inst,
                                                              HOST_SHELF_SUBSCRIBE_FLAGS, shelfQuery, shelfLoad,
                                                              shelfSave);
    }
    interface.options = nullptr;
    interface.command = nullptr;
    return ACTIVATE_OK;
}

void *buildPanel(FilterInstance &inst) {
    const PanelService &panels = *hostServices.panel;
    void *panel = panels.create(HOST_PANEL_TYPE_FORM, kControls);
    if (!panel) return nullptr;
    panels.hint(panel, 0, kHints);
    panels.describe(panel, kData, panelGet, panelSet);
    panels.viewInstance(panel, &inst);
    panels.setUserData(panel, 0, &inst);
    inst.handles.panel = panel;
    return panel;
}

void *panelGet(void *inst, unsigned long id) {
    FilterInstance &self = asInstance(inst);
    switch (id) {
        case ID_CENTER_X: return self.handles.centerXParam;
        case ID_CENTER_Y: return self.handles.centerYParam;
        case ID_ZOOM: return self.handles.zoomParam;
        default: return nullptr;
    }
}

// The host has already applied the edit to the parameter; the cached value
// follows it at time 0, whatever frame the host is showing.
int panelSet(void *inst, unsigned long id, void *) {
    FilterInstance &self = asInstance(inst);
    double *cached = nullptr;
    switch (id) {
        case ID_CENTER_X: cached = &self.preview.view.centerX; break;
        case ID_CENTER_Y: cached = &self.preview.view.centerY; break;
        case ID_ZOOM: cached = &self.preview.view.zoom; break;
        default: return 0;
    }
    *cached = paramValueAt(panelGet(inst, id), 0.0, *cached);
    return HOST_PANEL_VALUE_CHANGED;
}

int panelChangeNotify(void *panel, unsigned long, unsigned long, int event) {
    FilterInstance &inst = panelInstance(panel);
    if (event == HOST_PANEL_EVENT_SELECT && hostServices.shelf && inst.handles.shelfClient) {
        hostServices.shelf->select(inst.handles.shelfClient);
    }
    return 0;
}

// The panel is gone: its handle is cleared so that a later shelf load does not
// refresh a panel that no longer exists.
void panelDestroyNotify(void *inst) {
    FilterInstance &self = asInstance(inst);
    if (hostServices.shelf && self.handles.shelfClient) {
        hostServices.shelf->unsubscribe(self.handles.shelfClient);
        self.handles.shelfClient = nullptr;
    }
    self.handles.panel = nullptr;
}

FilterInstance &panelInstance(void *panel) { return asInstance(hostServices.panel->getUserData(panel, 0)); }

}  // namespace vorlux
