// The interface server: a form panel over one filter instance, its controls
// and hints, and the callbacks of its value controls. The preview and the
// preset shelf it hints have their own files.
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

}  // namespace vorlux
