#include "filter/instance.h"

#include <cstdio>
#include <cstdlib>

#include "filter/host_services.h"

namespace vorlux {
namespace {

// A parameter whose creation failed stays null. Loading, saving or copying
// such an instance is refused: skipping the parameter would shift every later
// block of the saved form onto the wrong channel, or leave a copy short.
const char *const kMissingParam = "Vorlux parameter is missing.";

struct ParamSlot {
    ParamHandle HostHandles::*handle;
    double ViewGeometry::*value;
    const char *channel;
};

constexpr ParamSlot kParams[] = {
    {&HostHandles::centerXParam, &ViewGeometry::centerX, "Center.X"},
    {&HostHandles::centerYParam, &ViewGeometry::centerY, "Center.Y"},
    {&HostHandles::zoomParam, &ViewGeometry::zoom, "Zoom"},
};

FilterInstance &asInstance(void *inst) { return *static_cast<FilterInstance *>(inst); }

bool hasAllParams(const HostHandles &handles) {
    return handles.centerXParam && handles.centerYParam && handles.zoomParam;
}

}  // namespace

void *instCreate(void *priv, void *, const char **) {
    auto *inst = static_cast<FilterInstance *>(std::calloc(1, sizeof(FilterInstance)));
    if (!inst) return nullptr;
    ViewGeometry &view = inst->preview.view;
    view.centerX = kDefaultCenterX;
    view.centerY = kDefaultCenterY;
    view.zoom = kDefaultZoom;
    inst->frame.view = view;

    HostHandles &own = inst->handles;
    own.global = reinterpret_cast<HostGlobal>(priv);
    const HostServices &host = hostServices;
    void *item = host.itemInfo->firstItem(HOST_ITEM_TYPE_IMAGE, nullptr);
    own.channelGroup = host.envelopes->createGroup(host.itemInfo->channelGroup(item), "Vorlux");

    for (const ParamSlot &slot : kParams) {
        ParamHandle param = host.params->create(HOST_PARAM_TYPE_DOUBLE, HOST_PARAM_CREATE_FLAGS);
        own.*slot.handle = param;
        if (!param) continue;
        host.params->setup(param, slot.channel, own.channelGroup, nullptr, nullptr, nullptr, nullptr);
        host.params->setValue(param, &(view.*slot.value));
    }
    return inst;
}

void instDestroy(void *inst) {
    if (!inst) return;
    const HostHandles &own = asInstance(inst).handles;
    for (const ParamSlot &slot : kParams) {
        if (own.*slot.handle) hostServices.params->destroy(own.*slot.handle);
    }
    std::free(inst);
}

const char *instCopy(void *dst, void *src) {
    FilterInstance &to = asInstance(dst);
    const FilterInstance &from = asInstance(src);
    // A parameter missing on either side could not take its value, and the
    // copied view would show what no parameter holds.
    if (!hasAllParams(to.handles) || !hasAllParams(from.handles)) return kMissingParam;
    // The destination keeps its handles: its own panel and shelf
    // subscription, which it would otherwise release on the source's behalf,
    // and its own parameters, which take the source's values and animation.
    for (const ParamSlot &slot : kParams) {
        const char *error = hostServices.params->copy(to.handles.*slot.handle, from.handles.*slot.handle);
        if (error) return error;
    }
    to.preview = from.preview;
    to.frame = from.frame;
    return nullptr;
}

const char *instLoad(void *inst, const LoadState *state) {
    FilterInstance &self = asInstance(inst);
    if (!hasAllParams(self.handles)) return kMissingParam;
    for (const ParamSlot &slot : kParams) {
        if (const char *error = hostServices.params->load(self.handles.*slot.handle, state)) return error;
    }
    sampleParams(self, 0.0);
    return nullptr;
}

const char *instSave(void *inst, const SaveState *state) {
    const HostHandles &own = asInstance(inst).handles;
    if (!hasAllParams(own)) return kMissingParam;
    for (const ParamSlot &slot : kParams) {
        if (const char *error = hostServices.params->save(own.*slot.handle, state)) return error;
    }
    return nullptr;
}

const char *instDescribe(void *inst) {
    FilterInstance &self = asInstance(inst);
    const ViewGeometry &view = self.preview.view;
    std::snprintf(self.description, sizeof self.description, "Vorlux  (%g, %g)  %g", view.centerX, view.centerY,
                  view.zoom);
    return self.description;
}

void setParamValue(ParamHandle param, double value) {
    if (!param) return;
    double values[3] = {value, 0.0, 0.0};
    hostServices.params->setValue(param, values);
}

double paramValueAt(ParamHandle param, double time, double cached) {
    if (!param) return cached;
    double out[3] = {cached, 0.0, 0.0};
    hostServices.params->evaluate(param, time, nullptr, out);
    return out[0];
}

void sampleParams(FilterInstance &inst, double time) {
    for (const ParamSlot &slot : kParams) {
        double &cached = inst.preview.view.*slot.value;
        cached = paramValueAt(inst.handles.*slot.handle, time, cached);
    }
}

}  // namespace vorlux
