#include "module/activate.h"

#include "filter/instance.h"
#include "filter/render.h"
#include "module/services.h"

namespace vorlux {

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
    *handler->inst = InstanceOps{
        reinterpret_cast<void *>(global), instCreate, instDestroy, instCopy, instLoad, instSave, instDescribe,
    };
    *handler->render = RenderOps{renderInit, renderCleanup, renderNewTime};
    handler->evaluate = evaluatePixel;
    handler->flags = filterFlags;
    return ACTIVATE_OK;
}

}  // namespace vorlux
