// The filter instance: three animated parameters in a channel group of their
// own, and the cached view that the render pass, the panel preview and the
// preset thumbnail colour their pixels through.
#pragma once

#include <cstdint>

#include "fractal/fractal.h"
#include "host/abi.h"

namespace vorlux {

inline constexpr double kDefaultCenterX = -0.222;
inline constexpr double kDefaultCenterY = 0.8;
inline constexpr double kDefaultZoom = 15.0;

// The view the panel shows and edits: the parameters' cached values, and the
// size and steps of the preview last drawn, in whose pixels the panel's
// clicks and boxes are measured.
struct PreviewState {
    int32_t width;
    int32_t height;
    ViewGeometry view;
};

// What the render pass reads per pixel, apart from the preview: a preview
// redraw cannot change the frame being rendered, and a render cannot skew the
// next preview gesture.
struct RenderFrame {
    int32_t width;
    int32_t height;
    double pixelAspect;
    ViewGeometry view;
};

// What the host gave this instance or made for it. Each belongs to this
// instance alone, so a copy never carries one over.
struct HostHandles {
    HostGlobal global;
    void *channelGroup;
    ParamHandle centerXParam;
    ParamHandle centerYParam;
    ParamHandle zoomParam;
    void *shelfClient;
    void *panel;
};

struct FilterInstance {
    PreviewState preview;
    RenderFrame frame;
    HostHandles handles;
    // The text describe returns, kept here so that it outlives the call.
    char description[80];
};

void *instCreate(void *priv, void *context, const char **error);
void instDestroy(void *inst);
// Null, or the first error: a missing parameter, or the host's own text.
const char *instCopy(void *dst, void *src);
const char *instLoad(void *inst, const LoadState *state);
const char *instSave(void *inst, const SaveState *state);
const char *instDescribe(void *inst);

// Sets one parameter to a value, as the panel's gestures do.
void setParamValue(ParamHandle param, double value);

// A parameter's value at a time; a parameter that could not be created keeps
// the cached value.
double paramValueAt(ParamHandle param, double time, double cached);

// Refreshes the cached centre and zoom from the parameters at a time.
void sampleParams(FilterInstance &inst, double time);

}  // namespace vorlux
