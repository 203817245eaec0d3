#include "module/activate.h"

#include "filter/host_services.h"
#include "filter/instance.h"
#include "filter/render.h"

namespace vorlux {
namespace {

constexpr RenderOps kRenderOps{
    .init = renderInit,
    .cleanup = renderCleanup,
    .newTime = renderNewTime,
};

}  // namespace

int handlerActivate(int version, HostGlobal global, void *record, void *) {
    if (version != HOST_INTERFACE_VERSION) return ACTIVATE_BAD_VERSION;

    const auto *itemInfo = lookUp<ItemInfoService>(global, HOST_ITEM_INFO);
    const auto *envelopes = lookUp<EnvelopeService>(global, HOST_ENVELOPES);
    const auto *channelInfo = lookUp<ChannelInfoService>(global, HOST_CHANNEL_INFO);
    const auto *params = lookUp<ParamService>(global, HOST_PARAMS);
    // A failed activation keeps the services of the last good one: instances
    // created through it still call them, and must not meet a null table.
    if (!itemInfo || !envelopes || !channelInfo || !params) return ACTIVATE_MISSING_SERVICE;
    hostServices.itemInfo = itemInfo;
    hostServices.envelopes = envelopes;
    hostServices.channelInfo = channelInfo;
    hostServices.params = params;

    auto *handler = static_cast<HandlerRecord *>(record);
    // The lookup rides in the private word, which create hands back.
    *handler->inst = InstanceOps{
        .priv = reinterpret_cast<void *>(global),
        .create = instCreate,
        .destroy = instDestroy,
        .copy = instCopy,
        .load = instLoad,
        .save = instSave,
        .describe = instDescribe,
    };
    *handler->render = kRenderOps;
    handler->evaluate = evaluatePixel;
    handler->flags = filterFlags;
    return ACTIVATE_OK;
}

}  // namespace vorlux
