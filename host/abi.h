/* The host's binary interface: records, service tables and callback types
 * shared by the module and by any host that loads it.
 *
 * Every service table is an array of pointer-sized words; a position that
 * nothing here calls is still a word, declared as a placeholder so that the
 * later positions land where the host puts them. The layout assertions at the
 * end hold on LP64 and on a 32-bit (-m32) build alike.
 *
 * This header is plain C so that a host written in C can use it unchanged. */
#ifndef VORLUX_HOST_ABI_H
#define VORLUX_HOST_ABI_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#define HOST_STATIC_ASSERT(cond, msg) static_assert(cond, msg)
#else
#define HOST_STATIC_ASSERT(cond, msg) _Static_assert(cond, msg)
#endif

/* ---- Lookup, descriptor and activation ---------------------------------- */

typedef void *(*HostGlobal)(const char *service, int use);
typedef int (*ActivateFunc)(int version, HostGlobal global, void *record, void *serverData);

enum {
    HOST_MODULE_MAGIC = 0x04121994,
    HOST_MODULE_CODE2 = 3,
    HOST_MODULE_CODE3 = 0x300,
    HOST_INTERFACE_VERSION = 4,
    HOST_STARTUP_RESULT = 4
};

/* Service names the host answers to, and the two server classes. */
#define HOST_ITEM_INFO "QZ Item Info 3"
#define HOST_ENVELOPES "Animation Envelopes"
#define HOST_CHANNEL_INFO "Channel Info"
#define HOST_PARAMS "QZVParmFuncs 2"
#define HOST_SCENE_INFO "QZ Scene Info 2"
#define HOST_PANEL "QZXPanel"
#define HOST_SHELF "QZShelfFuncs"
#define HOST_IMAGE "Image Utility"
#define HOST_FILTER_CLASS "PixelFilterHandler"
#define HOST_INTERFACE_CLASS "PixelFilterInterface"

/* Activation results. */
enum { ACTIVATE_OK = 0, ACTIVATE_BAD_VERSION = 1, ACTIVATE_MISSING_SERVICE = 2 };

typedef struct ServerRecord {
    const char *className;
    const char *name;
    ActivateFunc activate;
    void *reserved;
} ServerRecord;

typedef struct ModuleDescriptor {
    int32_t magic;
    int32_t code2;
    int32_t code3;
    void *(*startup)(void);
    void (*shutdown)(void *);
    const ServerRecord *servers;
} ModuleDescriptor;

/* ---- Filter server ------------------------------------------------------ */

/* The host's save and load states; the module only passes their addresses on. */
typedef struct LoadState LoadState;
typedef struct SaveState SaveState;

typedef struct InstanceOps {
    void *priv;
    void *(*create)(void *priv, void *context, const char **error);
    void (*destroy)(void *inst);
    const char *(*copy)(void *dst, void *src);
    const char *(*load)(void *inst, const LoadState *state);
    const char *(*save)(void *inst, const SaveState *state);
    const char *(*describe)(void *inst);
} InstanceOps;

typedef struct RenderOps {
    const char *(*init)(void *inst, int mode);
    void (*cleanup)(void *inst);
    const char *(*newTime)(void *inst, int frame, double time);
} RenderOps;

/* The per-pixel record. The colour setter has no context argument: a host
 * that renders on several threads tells its pixels apart on its own side. */
typedef struct PixelAccess {
    double x;
    double y;
    void *unused;
    void (*setColour)(const float rgba[4]);
} PixelAccess;

typedef struct HandlerRecord {
    InstanceOps *inst;
    void *item;
    RenderOps *render;
    void (*evaluate)(void *inst, const PixelAccess *access);
    unsigned int (*flags)(void *inst);
} HandlerRecord;

/* "QZ Scene Info 2" answers with this data record, not a table. Only the
 * frame size and pixel aspect are read; the host's earlier fields hold no
 * pointers, so their 48 bytes are the same on every build. */
typedef struct SceneInfo {
    unsigned char hostFields[48];
    int32_t frameWidth;
    int32_t frameHeight;
    double pixelAspect;
} SceneInfo;

/* ---- Services of the filter --------------------------------------------- */

typedef void *ParamHandle;

typedef struct ParamService {
    ParamHandle (*create)(int type, int flags);
    void (*destroy)(ParamHandle param);
    int (*setup)(ParamHandle param, const char *channel, void *group, void *, void *, void *, void *);
    const char *(*copy)(ParamHandle dst, ParamHandle src);
    const char *(*load)(ParamHandle param, const LoadState *state);
    const char *(*save)(ParamHandle param, const SaveState *state);
    double (*evaluate)(ParamHandle param, double time, void *zero, double *out3);
    int (*setValue)(ParamHandle param, double *values);
} ParamService;

typedef struct ItemInfoService {
    void *(*firstItem)(int type, void *zero);
    void *unused1to12[12];
    void *(*channelGroup)(void *item);
} ItemInfoService;

typedef struct EnvelopeService {
    void *unused0to1[2];
    void *(*createGroup)(void *parent, const char *name);
} EnvelopeService;

/* Looked up so that activation can require it; no position is called. */
typedef struct ChannelInfoService {
    void *unused0;
} ChannelInfoService;

/* ---- Interface server --------------------------------------------------- */

typedef struct InterfaceRecord {
    void *inst;
    void *panel;
    void *options;
    void *command;
} InterfaceRecord;

typedef struct ControlEntry {
    unsigned long id;
    const char *label;
    const char *type;
} ControlEntry;

typedef ControlEntry DataEntry;

typedef void *(*PanelGetFunc)(void *inst, unsigned long id);
typedef int (*PanelSetFunc)(void *inst, unsigned long id, void *value);
typedef int (*PanelChangeFunc)(void *panel, unsigned long cid, unsigned long vid, int event);
typedef void (*PanelDestroyFunc)(void *inst);
typedef void (*ButtonFunc)(void *panel, int id);
typedef void (*PreviewDrawFunc)(void *panel, unsigned long id, void *region, int w, int h);
typedef void (*PreviewZoomFunc)(void *panel, unsigned long id, int x, int y, int *region, int clear);

typedef struct DrawingTable {
    void *unused0;
    void (*drawPixel)(void *region, int r, int g, int b, int x, int y);
} DrawingTable;

typedef struct PanelService {
    void *unused0;
    const DrawingTable *drawing;
    void *(*create)(int type, const ControlEntry *controls);
    void *unused3;
    void (*describe)(void *panel, const DataEntry *data, PanelGetFunc get, PanelSetFunc set);
    void (*hint)(void *panel, unsigned long id, const intptr_t *hints);
    void *(*getUserData)(void *panel, unsigned long id);
    void (*setUserData)(void *panel, unsigned long id, void *data);
    void *unused8to9[2];
    void (*viewInstance)(void *panel, void *inst);
    void (*refresh)(void *panel);
} PanelService;

typedef int (*ShelfQueryFunc)(void *client, void *query);
typedef void (*ShelfLoadFunc)(void *inst, const LoadState *state);
typedef const char *(*ShelfSaveFunc)(void *inst, const SaveState *state);

typedef struct ShelfService {
    void *(*subscribe)(const char *cls, const char *name, void *data, int flags, ShelfQueryFunc query,
                       ShelfLoadFunc load, ShelfSaveFunc save);
    void (*unsubscribe)(void *client);
    void (*open)(void *client);
    int (*isOpen)(void *client);
    void *unused4;
    void (*select)(void *client);
    void (*addPreset)(void *client, void *image, void *zero);
} ShelfService;

typedef struct ImageService {
    void *(*create)(int w, int h, int type);
    void (*destroy)(void *image);
    void *unused2;
    void (*setPixel)(void *image, int x, int y, const float *rgb);
} ImageService;

/* ---- Codes both sides pass ---------------------------------------------- */

/* Type codes: the item whose channel group holds a filter's channels, the
 * image of three floats per pixel, the animatable double, and the flags a
 * parameter is created with. */
enum {
    HOST_ITEM_TYPE_IMAGE = 2,
    HOST_IMAGE_TYPE_RGB_FLOAT = 4,
    HOST_PARAM_TYPE_DOUBLE = 16,
    HOST_PARAM_CREATE_FLAGS = -1
};

/* Panel codes: the form panel's type, the set callback's answer after it has
 * taken a changed value (0 otherwise), the change notification's event for a
 * panel that has become the user's focus, and the preview's drag mode in
 * which the module receives a box. */
enum {
    HOST_PANEL_TYPE_FORM = 1,
    HOST_PANEL_VALUE_CHANGED = 2,
    HOST_PANEL_EVENT_SELECT = 4,
    HOST_PREVIEW_DRAG_MODE = 2
};

/* Control types of the controls and data tables. */
#define HOST_CONTROL_FLOAT_ENV "float-env"
#define HOST_CONTROL_THUMBNAIL "dThumbnail"
#define HOST_CONTROL_BUTTON "vButton"

/* Hint tags. A hint list is a run of words: a tag, as many fixed arguments
 * as the tag's low seven bits count, then, when the tag has bit 0x80, a list
 * of ids ended by 0. A 0 tag ends the list. Text and callbacks are cast to
 * words. */
enum {
    HOST_HINT_END = 0,
    HOST_HINT_ARGUMENT_COUNT = 0x7F,
    HOST_HINT_ID_LIST = 0x80,

    HOST_HINT_TITLE = 0x3D000B03,          /* 0, title text, 0 */
    HOST_HINT_CHANGE_NOTIFY = 0x3D000F01,  /* PanelChangeFunc */
    HOST_HINT_DESTROY_NOTIFY = 0x3D001302, /* PanelDestroyFunc, 0 */
    HOST_HINT_BUTTON = 0x3D015F02,         /* id, ButtonFunc */
    HOST_HINT_PREVIEW_DRAW = 0x3D016502,   /* id, PreviewDrawFunc */
    HOST_HINT_PREVIEW_DRAG = 0x3D016603,   /* id, PreviewZoomFunc, drag mode */
    HOST_HINT_GROUP = 0x3D01FE81,          /* group id; its controls' ids */
    HOST_HINT_PREVIEW_LAYOUT = 0x3D021280, /* ids of previews */
    HOST_HINT_VALUE_LAYOUT = 0x3D021380,   /* ids of value controls */
    HOST_HINT_MINIMUM = 0x3D014002,        /* id, suggested minimum */
    HOST_HINT_MAXIMUM = 0x3D014102,        /* id, suggested maximum */
    HOST_HINT_STEP = 0x3D014202            /* id, suggested step */
};

/* The shelf's codes: the flags a client subscribes with, and the query
 * callback's answer. */
enum { HOST_SHELF_SUBSCRIBE_FLAGS = 2, HOST_SHELF_QUERY_ANSWER = 1 };

/* ---- Layout checks ------------------------------------------------------ */

#define HOST_WORD sizeof(void *)
#define HOST_AT(type, field, pos) \
    HOST_STATIC_ASSERT(offsetof(type, field) == (pos) * HOST_WORD, #type "." #field " is not at word " #pos)

HOST_STATIC_ASSERT(sizeof(void *) == 4 || sizeof(void *) == 8, "pointers are 32 or 64 bits");
HOST_STATIC_ASSERT(sizeof(unsigned long) == sizeof(void *), "ids are words");

HOST_STATIC_ASSERT(offsetof(ModuleDescriptor, magic) == 0, "descriptor magic");
HOST_STATIC_ASSERT(offsetof(ModuleDescriptor, code2) == 4, "descriptor code2");
HOST_STATIC_ASSERT(offsetof(ModuleDescriptor, code3) == 8, "descriptor code3");
HOST_STATIC_ASSERT(offsetof(ModuleDescriptor, startup) == (HOST_WORD == 4 ? 12 : 16), "descriptor startup");
HOST_STATIC_ASSERT(offsetof(ModuleDescriptor, shutdown) == offsetof(ModuleDescriptor, startup) + HOST_WORD,
                   "descriptor shutdown");
HOST_STATIC_ASSERT(offsetof(ModuleDescriptor, servers) == offsetof(ModuleDescriptor, startup) + 2 * HOST_WORD,
                   "descriptor servers");
HOST_STATIC_ASSERT(sizeof(ServerRecord) == 4 * HOST_WORD, "server record is four words");
HOST_AT(ServerRecord, activate, 2);

HOST_STATIC_ASSERT(offsetof(SceneInfo, frameWidth) == 48, "scene info width");
HOST_STATIC_ASSERT(offsetof(SceneInfo, frameHeight) == 52, "scene info height");
HOST_STATIC_ASSERT(offsetof(SceneInfo, pixelAspect) == 56, "scene info aspect");

HOST_STATIC_ASSERT(offsetof(PixelAccess, x) == 0, "pixel x");
HOST_STATIC_ASSERT(offsetof(PixelAccess, y) == 8, "pixel y");
HOST_STATIC_ASSERT(offsetof(PixelAccess, unused) == 16, "pixel unused word");
HOST_STATIC_ASSERT(offsetof(PixelAccess, setColour) == (HOST_WORD == 4 ? 20 : 24), "pixel set-colour");

HOST_AT(HandlerRecord, flags, 4);
HOST_AT(InstanceOps, describe, 6);
HOST_AT(RenderOps, newTime, 2);
HOST_AT(InterfaceRecord, command, 3);
HOST_AT(ControlEntry, type, 2);

HOST_AT(ParamService, setValue, 7);
HOST_AT(ItemInfoService, channelGroup, 13);
HOST_AT(EnvelopeService, createGroup, 2);
HOST_AT(PanelService, drawing, 1);
HOST_AT(PanelService, create, 2);
HOST_AT(PanelService, describe, 4);
HOST_AT(PanelService, hint, 5);
HOST_AT(PanelService, getUserData, 6);
HOST_AT(PanelService, setUserData, 7);
HOST_AT(PanelService, viewInstance, 10);
HOST_AT(PanelService, refresh, 11);
HOST_AT(DrawingTable, drawPixel, 1);
HOST_AT(ShelfService, isOpen, 3);
HOST_AT(ShelfService, select, 5);
HOST_AT(ShelfService, addPreset, 6);
HOST_AT(ImageService, setPixel, 3);

#undef HOST_AT

#ifdef __cplusplus
}
#endif

#endif
