// The interface server: a form panel over one filter instance, with a live
// preview and the preset shelf.
#pragma once

#include "filter/instance.h"
#include "host/abi.h"

namespace vorlux {

enum ControlId : unsigned long {
    ID_CENTER_X = 0x8001,
    ID_CENTER_Y = 0x8002,
    ID_ZOOM = 0x8003,
    ID_PREVIEW = 0x8004,
    ID_GROUP = 0x8005,
    ID_OPEN_SHELF = 0x8006,
    ID_ADD_PRESET = 0x8007,
};

int interfaceActivate(int version, HostGlobal global, void *record, void *serverData);
void *buildPanel(FilterInstance &inst);

void *panelGet(void *inst, unsigned long id);
int panelSet(void *inst, unsigned long id, void *value);
int panelChangeNotify(void *panel, unsigned long cid, unsigned long vid, int event);
void panelDestroyNotify(void *inst);

// The instance a panel works on, stored as its user data.
FilterInstance &panelInstance(void *panel);

void previewDraw(void *panel, unsigned long id, void *region, int w, int h);
void previewZoom(void *panel, unsigned long id, int x, int y, int *region, int clear);

int shelfQuery(void *client, void *query);
void shelfLoad(void *inst, const LoadState *state);
const char *shelfSave(void *inst, const SaveState *state);
void openShelfButton(void *panel, int id);
void addPresetButton(void *panel, int id);

inline constexpr int kThumbnailSize = 128;

// Renders the instance's view into a new host image, or null without the
// image service. The instance's own steps are left as they were.
void *makeThumbnail(const FilterInstance &inst, int w, int h);

}  // namespace vorlux
