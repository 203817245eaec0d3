#include "filter/instance.h"

#include <cstdio>
#include <cstdlib>

#include "module/services.h"

namespace vorlux {
namespace {

// A parameter whose creation failed stays null. Loading or saving such an
// instance is refused, because skipping the parameter would shift every later
// block of the saved form onto the wrong channel.
const char *const kMissingParam = "Vorlux parameter is missing.";

struct ParamSlot {
    ParamHandle FilterInstance::*handle;
    double ViewGeometry::*value;
    const char *channel;
};

constexpr ParamSlot kParams[] = {
    {&FilterInstance::centerXParam, &ViewGeometry::centerX, "Center.X"},
    {&FilterInstance::centerYParam, &ViewGeometry::centerY, "Center.Y"},
    {&FilterInstance::zoomParam, &ViewGeometry::zoom, "Zoom"},
};

FilterInstance &asInstance(void *inst) { return *static_cast<FilterInstance *>(inst); }

bool hasAllParams(const FilterInstance &inst) {
    return inst.centerXParam && inst.centerYParam && inst.zoomParam;
}

}  // namespace

void *instCreate(void *priv, void *, const char **) {
    auto *inst = static_cast<FilterInstance *>(std::calloc(1, sizeof(FilterInstance)));
    if (!inst) return nullptr;
    inst->global = reinterpret_cast<HostGlobal>(priv);
    inst->view.centerX = kDefaultCenterX;
    inst->view.centerY = kDefaultCenterY;
    inst->view.zoom = kDefaultZoom;
    inst->frame.view = inst->view;

    const HostServices &host = hostServices;
    void *item = host.itemInfo->firstItem(HOST_ITEM_TYPE_IMAGE, nullptr);
    inst->channelGroup = host.envelopes->createGroup(host.itemInfo->channelGroup(item), "Vorlux");

    for (const ParamSlot &slot : kParams) {
        ParamHandle param = host.params->create(HOST_PARAM_TYPE_DOUBLE, HOST_PARAM_CREATE_FLAGS);
        inst->*slot.handle = param;
        if (!param) continue;
        host.params->setup(param, slot.channel, inst->channelGroup, nullptr, nullptr, nullptr, nullptr);
        host.params->setValue(param, &(inst->view.*slot.value));
    }
    return inst;
}

void instDestroy(void *inst) {
    if (!inst) return;
    FilterInstance &self = asInstance(inst);
    for (const ParamSlot &slot : kParams) {
        if (self.*slot.handle) hostServices.params->destroy(self.*slot.handle);
    }
    std::free(inst);
}

const char *instCopy(void *dst, void *src) {
    FilterInstance &to = asInstance(dst);
    const FilterInstance &from = asInstance(src);
    // The destination keeps what belongs to it alone: its channel group and
    // parameters, and its own panel and shelf subscription, which it would
    // otherwise release on the source's behalf.
    FilterInstance kept = to;
    to = from;
    to.channelGroup = kept.channelGroup;
    to.shelfClient = kept.shelfClient;
    to.panel = kept.panel;
    for (const ParamSlot &slot : kParams) {
        to.*slot.handle = kept.*slot.handle;
        if (to.*slot.handle && from.*slot.handle) {
            hostServices.params->copy(to.*slot.handle, from.*slot.handle);
        }
    }
    return nullptr;
}

const char *instLoad(void *inst, const LoadState *state) {
    FilterInstance &self = asInstance(inst);
    if (!hasAllParams(self)) return kMissingParam;
    for (const ParamSlot &slot : kParams) {
        if (const char *error = hostServices.params->load(self.*slot.handle, state)) return error;
    }
    sampleParams(self, 0.0);
    return nullptr;
}

const char *instSave(void *inst, const SaveState *state) {
    const FilterInstance &self = asInstance(inst);
    if (!hasAllParams(self)) return kMissingParam;
    for (const ParamSlot &slot : kParams) {
        if (const char *error = hostServices.params->save(self.*slot.handle, state)) return error;
    }
    return nullptr;
}

const char *instDescribe(void *inst) {
    FilterInstance &self = asInstance(inst);
    std::snprintf(self.description, sizeof self.description, "Vorlux  (%g, %g)  %g", self.view.centerX,
                  self.view.centerY, self.view.zoom);
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
        inst.view.*slot.value = paramValueAt(inst.*slot.handle, time, inst.view.*slot.value);
    }
}

}  // namespace vorlux
