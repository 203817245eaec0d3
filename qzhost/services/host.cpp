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
    registry_.offer(HOST_SCENE_INFO, &sceneInfo_);
    registry_.offer(HOST_IMAGE, images_.table());
    registry_.offer(HOST_PANEL, panels_.table());
}

void Host::openShelf(const std::filesystem::path &file) {
    auto store = std::make_unique<PresetStore>(file);
    shelf_ = std::make_unique<Shelf>(*store);
    presetStore_ = std::move(store);
    registry_.offer(HOST_SHELF, shelf_->table());
}

void Host::setFrameFormat(int width, int height, double pixelAspect) {
    sceneInfo_.frameWidth = width;
    sceneInfo_.frameHeight = height;
    sceneInfo_.pixelAspect = pixelAspect;
}

Host::~Host() { running = nullptr; }

Host &Host::current() {
    assert(running && "no host is running");
    return *running;
}

}  // namespace qzhost
