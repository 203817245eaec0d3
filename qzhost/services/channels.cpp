#include "qzhost/services/channels.h"

#include <algorithm>

#include "qzhost/services/host.h"
#include "qzhost/services/params.h"

namespace qzhost {

ChannelGroup &ChannelGroup::addChild(const std::string &childName) {
    children.push_back(std::make_unique<ChannelGroup>());
    ChannelGroup &child = *children.back();
    child.name = childName;
    child.parent = this;
    return child;
}

void ChannelGroup::detach(AnimatedParam *param) { std::erase(channels, param); }

std::string ChannelGroup::path() const {
    if (!parent) return "";
    const std::string above = parent->path();
    return above.empty() ? name : above + "/" + name;
}

ChannelTree::ChannelTree() {
    root_.name = "";
    items_.push_back({HOST_ITEM_TYPE_IMAGE, "Image", &root_.addChild("Image")});
}

std::vector<std::string> ChannelTree::channelPaths() const {
    std::vector<std::string> paths;
    auto walk = [&](const ChannelGroup &group, auto &self) -> void {
        for (const AnimatedParam *param : group.channels) paths.push_back(group.path() + "/" + param->channel);
        for (const auto &child : group.children) self(*child, self);
    };
    walk(root_, walk);
    return paths;
}

namespace {

ChannelTree &tree() { return Host::current().channels(); }

void *firstItem(int type, void *) {
    for (const SceneItem &item : tree().items()) {
        if (item.type == type) return const_cast<SceneItem *>(&item);
    }
    return nullptr;
}

void *itemChannelGroup(void *item) { return item ? static_cast<SceneItem *>(item)->group : nullptr; }

void *createGroup(void *parent, const char *name) {
    ChannelGroup &under = parent ? *static_cast<ChannelGroup *>(parent) : tree().root();
    return &under.addChild(name ? name : "");
}

ItemInfoService makeItemInfo() {
    ItemInfoService table{};
    table.firstItem = firstItem;
    table.channelGroup = itemChannelGroup;
    return table;
}

const ItemInfoService kItemInfo = makeItemInfo();
const EnvelopeService kEnvelopes{{nullptr, nullptr}, createGroup};
const ChannelInfoService kChannelInfo{};

}  // namespace

const ItemInfoService *ChannelTree::itemInfoTable() const { return &kItemInfo; }
const EnvelopeService *ChannelTree::envelopeTable() const { return &kEnvelopes; }
const ChannelInfoService *ChannelTree::channelInfoTable() const { return &kChannelInfo; }

}  // namespace qzhost
