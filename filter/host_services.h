// The host services the module keeps between calls: one slot per service,
// written by the activations and read by the callbacks. Nothing else is
// module-wide.
#pragma once

#include "host/abi.h"

namespace vorlux {

struct HostServices {
    const ItemInfoService *itemInfo;
    const EnvelopeService *envelopes;
    const ChannelInfoService *channelInfo;
    const ParamService *params;
    const PanelService *panel;
    const ShelfService *shelf;
    const ImageService *image;
};

extern HostServices hostServices;

template <typename Table>
const Table *lookUp(HostGlobal global, const char *name) {
    return static_cast<const Table *>(global(name, 0));
}

}  // namespace vorlux
