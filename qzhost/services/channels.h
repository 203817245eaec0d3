// The scene's items and the tree of channel groups that holds animated
// parameters: "QZ Item Info 3", "Animation Envelopes" and "Channel Info".
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "host/abi.h"

namespace qzhost {

struct AnimatedParam;

struct ChannelGroup {
    std::string name;
    ChannelGroup *parent = nullptr;
    std::vector<std::unique_ptr<ChannelGroup>> children;
    std::vector<AnimatedParam *> channels;

    ChannelGroup &addChild(const std::string &childName);
    void attach(AnimatedParam *param) { channels.push_back(param); }
    void detach(AnimatedParam *param);
    // "Image/Vorlux", from the root's child down.
    std::string path() const;
};

struct SceneItem {
    int type;
    std::string name;
    ChannelGroup *group;
};

class ChannelTree {
public:
    ChannelTree();
    ChannelGroup &root() { return root_; }
    const std::vector<SceneItem> &items() const { return items_; }

    // Every channel below the root, as "group/path/channel".
    std::vector<std::string> channelPaths() const;

    const ItemInfoService *itemInfoTable() const;
    const EnvelopeService *envelopeTable() const;
    const ChannelInfoService *channelInfoTable() const;

private:
    ChannelGroup root_;
    std::vector<SceneItem> items_;
};

}  // namespace qzhost
