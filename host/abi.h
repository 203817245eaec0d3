/* The host's binary interface: records, service tables and callback types
 * shared by the module and by any host that loads it.
 *
 * Every service table is an array of pointer-sized words; a position that
 * nothing here calls is still a word, declared as a placeholder so that the
 * later positions land where the host puts them. The layout assertions at the
 * end hold on LP64 and on a 32-bit (-m32) build alike.
 *
 * Each callback and slot says in one line which thread may call it, and who
 * owns what passes through it and for how long. The thread tags:
 *
 *   [serial]  One call at a time into the module, on any thread: the host
 *             serialises them, and the module calls the host's [serial]
 *             slots only while it serves one of them.
 *   [pixel]   Many at once, on the host's render threads, for pixels of one
 *             frame. They may overlap [serial] calls, except, on the same
 *             instance, render init, new-time and cleanup, destroy, and a
 *             copy into it.
 *
 * MUST and SHOULD bind as in an RFC. Unless a line says otherwise, a text or
 * record passed into a call belongs to the caller and lives for that call,
 * and an error text is null for success; a module's own error texts are
 * static, and one it passes on from the host lives as long as the host said.
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

/* [serial] Answers the host's table of a service (for HOST_SCENE_INFO its
 * SceneInfo record), or null; the module MAY keep it as long as the host runs.
 * The module passes 0 as use. */
typedef void *(*HostGlobal)(const char *service, int use);

/* [serial] Called each time the host needs the server. The module fills the
 * host's record, which lives for the call; it MAY keep the lookup for as long
 * as the host runs. serverData is the host's and is not read. Returns an
 * ACTIVATE_ code. */
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

/* An entry of the module's server table, static data of the module. */
typedef struct ServerRecord {
    const char *className; /* the module's text; null ends the table */
    const char *name;      /* the module's text */
    ActivateFunc activate;
    void *reserved; /* MUST be null */
} ServerRecord;

/* The module's exported descriptor: static data the host reads after
 * loading the module file, valid until it unloads it. */
typedef struct ModuleDescriptor {
    int32_t magic;
    int32_t code2;
    int32_t code3;
    /* [serial] Once, before any activation; returns HOST_STARTUP_RESULT, a word the host gives back to shutdown. */
    void *(*startup)(void);
    /* [serial] Once, with startup's word, after the host destroyed every instance; nothing follows. */
    void (*shutdown)(void *);
    const ServerRecord *servers; /* the module's static table */
} ModuleDescriptor;

/* ---- Filter server ------------------------------------------------------ */

/* The host's save and load states; the module only passes their addresses on. */
typedef struct LoadState LoadState;
typedef struct SaveState SaveState;

/* Filled by filter activation into the host's table, which MUST outlive every instance made through it. */
typedef struct InstanceOps {
    /* The module's word; the host MUST hand it back to create unchanged. */
    void *priv;
    /* [serial] Returns a new instance the host MUST destroy, or null (*error: a static text or untouched). */
    void *(*create)(void *priv, void *context, const char **error);
    /* [serial] Frees the instance and the parameters it made; the host MUST NOT pass it again. Null is ignored. */
    void (*destroy)(void *inst);
    /* [serial] dst takes src's view and animation but keeps its own handles; returns null or an error text. */
    const char *(*copy)(void *dst, void *src);
    /* [serial] Reads the parameters from the host's state, which lives for the call; null or the first error. */
    const char *(*load)(void *inst, const LoadState *state);
    /* [serial] Writes the parameters into the host's state, which lives for the call; null or the first error. */
    const char *(*save)(void *inst, const SaveState *state);
    /* [serial] Returns a text the instance owns, valid until its next describe or its destroy. */
    const char *(*describe)(void *inst);
} InstanceOps;

/* Filled by filter activation into the host's table, which MUST outlive every instance made through it. */
typedef struct RenderOps {
    /* [serial] Before a render's first frame; reads the frame size from the scene info. Null or a static text. */
    const char *(*init)(void *inst, int mode);
    /* [serial] After the render's last pixel call. */
    void (*cleanup)(void *inst);
    /* [serial] Before each frame's pixel calls; samples the view at time. Null or a static text. */
    const char *(*newTime)(void *inst, int frame, double time);
} RenderOps;

/* The per-pixel record: the host's, for one evaluate call. The colour setter
 * has no context argument: a host that renders on several threads tells its
 * pixels apart on its own side. */
typedef struct PixelAccess {
    double x;
    double y;
    void *unused;
    /* [pixel] Only inside the evaluate call given this record; the host copies the caller's four floats. */
    void (*setColour)(const float rgba[4]);
} PixelAccess;

/* The host's record that filter activation fills; the module only writes it. */
typedef struct HandlerRecord {
    InstanceOps *inst;  /* the host's table, filled by the module */
    void *item;         /* not read */
    RenderOps *render;  /* the host's table, filled by the module */
    /* [pixel] Between a new-time and the next new-time or cleanup; reads that frame only and writes nothing. */
    void (*evaluate)(void *inst, const PixelAccess *access);
    /* [serial] Returns the filter's flag bits: none. */
    unsigned int (*flags)(void *inst);
} HandlerRecord;

/* "QZ Scene Info 2" answers with this data record, not a table: the host's,
 * lasting as long as the host, its fields those of the current render. Only
 * the frame size and pixel aspect are read; the host's earlier fields hold no
 * pointers, so their 48 bytes are the same on every build. */
typedef struct SceneInfo {
    unsigned char hostFields[48];
    int32_t frameWidth;
    int32_t frameHeight;
    double pixelAspect;
} SceneInfo;

/* ---- Services of the filter --------------------------------------------- */

/* A parameter: the host's object, owned by the module that created it. */
typedef void *ParamHandle;

/* The host's parameters. Error texts are the host's, valid until the module's
 * callback that received them returns to the host. */
typedef struct ParamService {
    /* [serial] Returns a new parameter the module MUST destroy, or null. */
    ParamHandle (*create)(int type, int flags);
    /* [serial] The module MUST NOT pass the handle again. */
    void (*destroy)(ParamHandle param);
    /* [serial] Names the channel (the host copies the text) in the host's group; the result is not read. */
    int (*setup)(ParamHandle param, const char *channel, void *group, void *, void *, void *, void *);
    /* [serial] dst takes src's value and animation; null or an error text. */
    const char *(*copy)(ParamHandle dst, ParamHandle src);
    /* [serial] Reads the next block of the host's state; null or an error text. */
    const char *(*load)(ParamHandle param, const LoadState *state);
    /* [serial] Appends a block to the host's state; null or an error text. */
    const char *(*save)(ParamHandle param, const SaveState *state);
    /* [serial] Writes the value at time into out3[0] of the caller's three doubles; the result is not read. */
    double (*evaluate)(ParamHandle param, double time, void *zero, double *out3);
    /* [serial] values[0] of the caller's three doubles becomes the value; the result is not read. */
    int (*setValue)(ParamHandle param, double *values);
} ParamService;

typedef struct ItemInfoService {
    /* [serial] Returns the host's first item of a type, or null; it lives as long as the host. */
    void *(*firstItem)(int type, void *zero);
    void *unused1to12[12];
    /* [serial] Returns the host's channel group of an item. */
    void *(*channelGroup)(void *item);
} ItemInfoService;

typedef struct EnvelopeService {
    void *unused0to1[2];
    /* [serial] Returns a new channel group, named by a copy of the text, that the host owns and keeps. */
    void *(*createGroup)(void *parent, const char *name);
} EnvelopeService;

/* Looked up so that activation can require it; no position is called. */
typedef struct ChannelInfoService {
    void *unused0;
} ChannelInfoService;

/* ---- Interface server --------------------------------------------------- */

/* The host's record for one interface activation, lasting for the call. */
typedef struct InterfaceRecord {
    void *inst;    /* read: the instance the panel is for */
    void *panel;   /* written: the panel built, which the host owns */
    void *options; /* written: null */
    void *command; /* written: null */
} InterfaceRecord;

/* An entry of the module's static controls or data table, ended by an entry
 * with id 0; the host MAY keep pointers into it while the module is loaded. */
typedef struct ControlEntry {
    unsigned long id;
    const char *label;
    const char *type; /* a HOST_CONTROL_ type */
} ControlEntry;

typedef ControlEntry DataEntry;

/* [serial] Returns the instance's own parameter behind a value control, or null for any other id. */
typedef void *(*PanelGetFunc)(void *inst, unsigned long id);
/* [serial] After the host applied an edit to that parameter; value is not read. HOST_PANEL_VALUE_CHANGED or 0. */
typedef int (*PanelSetFunc)(void *inst, unsigned long id, void *value);
/* [serial] Told of a panel event (HOST_PANEL_EVENT_); returns 0. */
typedef int (*PanelChangeFunc)(void *panel, unsigned long cid, unsigned long vid, int event);
/* [serial] Once, with the panel's user data, as the panel is destroyed; no callback of that panel follows. */
typedef void (*PanelDestroyFunc)(void *inst);
/* [serial] A button of the panel was pressed; id is its control id. */
typedef void (*ButtonFunc)(void *panel, int id);
/* [serial] Paints a w by h preview through DrawingTable.drawPixel into the host's region, valid for the call. */
typedef void (*PreviewDrawFunc)(void *panel, unsigned long id, void *region, int w, int h);
/* [serial] A click at x, y; region is null or the host's x0, y0, x1, y1 of a dragged box; clear is not read. */
typedef void (*PreviewZoomFunc)(void *panel, unsigned long id, int x, int y, int *region, int clear);

/* The host's drawing functions, lasting as long as the host. */
typedef struct DrawingTable {
    void *unused0;
    /* [serial] Only inside the draw callback that got the region; the host ignores pixels outside it. */
    void (*drawPixel)(void *region, int r, int g, int b, int x, int y);
} DrawingTable;

typedef struct PanelService {
    void *unused0;
    /* A field, not a call: the host's drawing table. */
    const DrawingTable *drawing;
    /* [serial] Returns a panel the host owns and destroys (telling the module first), or null. */
    void *(*create)(int type, const ControlEntry *controls);
    void *unused3;
    /* [serial] get and set are the module's callbacks for the panel's value controls. */
    void (*describe)(void *panel, const DataEntry *data, PanelGetFunc get, PanelSetFunc set);
    /* [serial] Reads the module's hint list; its texts and callbacks MUST live as long as the module. */
    void (*hint)(void *panel, unsigned long id, const intptr_t *hints);
    /* [serial] Returns the word last stored under id, or null. */
    void *(*getUserData)(void *panel, unsigned long id);
    /* [serial] Stores a word for the module; the host never reads through it. */
    void (*setUserData)(void *panel, unsigned long id, void *data);
    void *unused8to9[2];
    /* [serial] The instance that the panel's get and set callbacks receive. */
    void (*viewInstance)(void *panel, void *inst);
    /* [serial] The host shows the controls' current values again. */
    void (*refresh)(void *panel);
} PanelService;

/* [serial] Returns HOST_SHELF_QUERY_ANSWER; neither argument is read. */
typedef int (*ShelfQueryFunc)(void *client, void *query);
/* [serial] Loads a preset into the client data given to subscribe; a refused block is the host's to report. */
typedef void (*ShelfLoadFunc)(void *inst, const LoadState *state);
/* [serial] Saves the client data given to subscribe, as InstanceOps.save. */
typedef const char *(*ShelfSaveFunc)(void *inst, const SaveState *state);

typedef struct ShelfService {
    /* [serial] The host copies both texts. Returns a client the module MUST unsubscribe, or null. */
    void *(*subscribe)(const char *cls, const char *name, void *data, int flags, ShelfQueryFunc query,
                       ShelfLoadFunc load, ShelfSaveFunc save);
    /* [serial] No callback for that client follows. */
    void (*unsubscribe)(void *client);
    /* [serial] Shows the shelf with the client's presets. */
    void (*open)(void *client);
    /* [serial] Nonzero while the shelf is shown for the client. */
    int (*isOpen)(void *client);
    void *unused4;
    /* [serial] Makes the client the one the shelf applies presets to. */
    void (*select)(void *client);
    /* [serial] Stores the client's settings, saved through its callback, with a copy of the image; zero is null. */
    void (*addPreset)(void *client, void *image, void *zero);
} ShelfService;

typedef struct ImageService {
    /* [serial] Returns a new image the module MUST destroy, or null. */
    void *(*create)(int w, int h, int type);
    /* [serial] The module MUST NOT pass the image again. */
    void (*destroy)(void *image);
    void *unused2;
    /* [serial] rgb is three of the caller's floats, read during the call. */
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
