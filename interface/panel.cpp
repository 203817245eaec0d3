#include "interface/panel.h"

#include "module/services.h"

namespace vorlux {
namespace {

const ControlEntry kControls[] = {
    {ID_PREVIEW, "Preview", "dThumbnail"},
    {ID_CENTER_X, "Center X", "float-env"},
    {ID_CENTER_Y, "Center Y", "float-env"},
    {ID_ZOOM, "Zoom", "float-env"},
    {ID_OPEN_SHELF, "Open Preset Shelf", "vButton"},
    {ID_ADD_PRESET, "Add Preset", "vButton"},
    {0, nullptr, nullptr},
};

const DataEntry kData[] = {
    {ID_CENTER_X, "Center X", "float-env"},
    {ID_CENTER_Y, "Center Y", "float-env"},
    {ID_ZOOM, "Zoom", "float-env"},
    {0, nullptr, nullptr},
};

template <typename Function>
intptr_t word(Function *function) {
    return reinterpret_cast<intptr_t>(function);
}

// The host's hint format: a tag whose low seven bits count the arguments that
// follow, and whose bit 0x80 adds a 0-terminated id list after them.
const intptr_t kHints[] = {
    0x3D000B03, 0, reinterpret_cast<intptr_t>("Vorlux"), 0,
    0x3D000F01, word(panelChangeNotify),
    0x3D001302, word(panelDestroyNotify), 0,
    0x3D015F02, ID_OPEN_SHELF, word(openShelfButton),
    0x3D015F02, ID_ADD_PRESET, word(addPresetButton),
    0x3D016502, ID_PREVIEW, word(previewDraw),
    0x3D016603, ID_PREVIEW, word(previewZoom), 2,
    0x3D01FE81, ID_GROUP, ID_PREVIEW, ID_CENTER_X, ID_CENTER_Y, ID_ZOOM, ID_OPEN_SHELF, ID_ADD_PRESET, 0,
    0x3D021280, ID_PREVIEW, 0,
    0x3D021380, ID_CENTER_X, ID_CENTER_Y, ID_ZOOM, 0,
    0x3D014002, ID_CENTER_X, -2,
    0x3D014102, ID_CENTER_X, 1,
    0x3D014202, ID_CENTER_X, 1,
    0x3D014002, ID_CENTER_Y, -2,
    0x3D014102, ID_CENTER_Y, 2,
    0x3D014202, ID_CENTER_Y, 1,
    0x3D014002, ID_ZOOM, 1,
    0x3D014102, ID_ZOOM, 65536,
    0x3D014202, ID_ZOOM, 5,
    0,
};

constexpr int kShelfFlags = 2;

FilterInstance &asInstance(void *inst) { return *static_cast<FilterInstance *>(inst); }

}  // namespace

int interfaceActivate(int version, HostGlobal global, void *record, void *) {
    auto &interface = *static_cast<InterfaceRecord *>(record);
    FilterInstance &inst = asInstance(interface.inst);
    if (version != HOST_INTERFACE_VERSION) return ACTIVATE_BAD_VERSION;

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
        inst.shelfClient = hostServices.shelf->subscribe(HOST_FILTER_CLASS, "Vorlux", &inst, kShelfFlags, shelfQuery,
                                                         shelfLoad, shelfSave);
    }
    interface.options = nullptr;
    interface.command = nullptr;
    return ACTIVATE_OK;
}

void *buildPanel(FilterInstance &inst) {
    const PanelService &panels = *hostServices.panel;
    void *panel = panels.create(kPanelType, kControls);
    if (!panel) return nullptr;
    panels.hint(panel, 0, kHints);
    panels.describe(panel, kData, panelGet, panelSet);
    panels.viewInstance(panel, &inst);
    panels.setUserData(panel, 0, &inst);
    inst.panel = panel;
    return panel;
}

void *panelGet(void *inst, unsigned long id) {
    FilterInstance &self = asInstance(inst);
    switch (id) {
        case ID_CENTER_X: return self.centerXParam;
        case ID_CENTER_Y: return self.centerYParam;
        case ID_ZOOM: return self.zoomParam;
        default: return nullptr;
    }
}

// The host has already applied the edit to the parameter; the cached value
// follows it at time 0, whatever frame the host is showing.
int panelSet(void *inst, unsigned long id, void *) {
    FilterInstance &self = asInstance(inst);
    double *cached = nullptr;
    switch (id) {
        case ID_CENTER_X: cached = &self.view.centerX; break;
        case ID_CENTER_Y: cached = &self.view.centerY; break;
        case ID_ZOOM: cached = &self.view.zoom; break;
        default: return 0;
    }
    *cached = paramValueAt(panelGet(inst, id), 0.0, *cached);
    return kPanelValueChanged;
}

int panelChangeNotify(void *panel, unsigned long, unsigned long, int event) {
    FilterInstance &inst = panelInstance(panel);
    if (event == kPanelEventSelect && hostServices.shelf && inst.shelfClient) {
        hostServices.shelf->select(inst.shelfClient);
    }
    return 0;
}

// The panel is gone: its handle is cleared so that a later shelf load does not
// refresh a panel that no longer exists.
void panelDestroyNotify(void *inst) {
    FilterInstance &self = asInstance(inst);
    if (hostServices.shelf && self.shelfClient) {
        hostServices.shelf->unsubscribe(self.shelfClient);
        self.shelfClient = nullptr;
    }
    self.panel = nullptr;
}

FilterInstance &panelInstance(void *panel) { return asInstance(hostServices.panel->getUserData(panel, 0)); }

}  // namespace vorlux
