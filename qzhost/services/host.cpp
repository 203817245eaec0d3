#include "qzhost/services/host.h"

#include <cassert>

namespace qzhost {
namespace {

Host *running = nullptr;

}  // namespace

Host::Host() : installation_(registry_) {
    assert(!running && "one host per process");
    running = this;
    registry_.offer(HOST_ITEM_INFO, channels_.itemInfoTable());
    registry_.offer(HOST_ENVELOPES, channels_.envelopeTable());
    registry_.offer(HOST_CHANNEL_INFO, channels_.channelInfoTable());
    registry_.offer(HOST_PARAMS, params_.table());
    registry_.offer(HOST_PANEL, panels_.table());
}

Host::~Host() { running = nullptr; }

Host &Host::current() {
    assert(running && "no host is running");
    return *running;
}

}  // namespace qzhost
