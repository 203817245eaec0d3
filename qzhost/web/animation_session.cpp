#include "qzhost/web/animation_session.h"

#include <algorithm>

#include "qzhost/services/host.h"

namespace qzhost {

Json AnimationSession::describe() {
    std::lock_guard lock(panel_.moduleCalls());
    const OpenPanel &open = panel_.panel();
    Json channels = Json::array();
    for (const Control &control : open.panel().controls) {
        if (!open.holdsValue(control.id)) continue;
        channels.push_back({{"id", control.id}, {"label", control.label}, {"block", toBlock(open.param(control.id))}});
    }
    // The frame settings as a scene file writes them.
    return Json{{"frames", sceneToJson({.frames = panel_.scene().frames(), .filters = {}})["frames"]},
                {"editTime", panel_.host().editTime()},
                {"channels", std::move(channels)},
                {"view", panel_.view()}};
}

Json AnimationSession::setBlock(unsigned long id, Json block) {
    std::lock_guard lock(panel_.moduleCalls());
    const std::string channel = panel_.panel().param(id).channel;
    block["channel"] = channel;
    // The very check a scene's state goes through when it is loaded.
    try {
        fromBlock(block, channel);
    } catch (const BlockError &e) {
        throw BadRequest(e.what());
    }
    HostedFilter &filter = panel_.scene().filter(0);
    std::vector<Json> state = filter.save();
    const auto saved = std::ranges::find_if(state, [&](const Json &b) { return b.value("channel", "") == channel; });
    if (saved == state.end()) throw BadRequest("the filter saves no block for channel '" + channel + "'");
    *saved = std::move(block);
    // Loaded whole, so that the module takes the values at time 0 from the
    // new keys as it does after a scene load.
    return panel_.redrawAfter([&] {
        filter.load(state);
        return true;
    });
}

}  // namespace qzhost
