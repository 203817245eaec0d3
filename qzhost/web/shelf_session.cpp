#include "qzhost/web/shelf_session.h"

#include "qzhost/services/host.h"

namespace qzhost {

ShelfClient *ShelfSession::findClient() const {
    const Shelf *shelf = panel_.host().shelf();
    return shelf ? shelf->clientOf(panel_.panel().instance()) : nullptr;
}

ShelfClient &ShelfSession::client() const {
    ShelfClient *client = findClient();
    if (!client) throw BadRequest("this panel has no preset shelf");
    return *client;
}

Json ShelfSession::describe() {
    std::lock_guard lock(panel_.moduleCalls());
    const ShelfClient *client = findClient();
    if (!client) return Json{{"available", false}, {"open", false}, {"presets", Json::array()}};
    Json presets = Json::array();
    std::string error = shelf().lastAddFailure().value_or("");
    // A database another program has locked is a state to show in the
    // drawer, not a reason to hide it.
    try {
        if (client->open) {
            for (const Preset &p : shelf().presetsFor(*client)) {
                presets.push_back({{"id", p.id}, {"name", p.name}, {"created", p.created}});
            }
        }
    } catch (const HostError &e) {
        if (error.empty()) error = e.what();
    }
    return Json{{"available", true}, {"open", client->open}, {"presets", std::move(presets)}, {"error", error},
                {"longestName", kMaxPresetName}};
}

std::vector<unsigned char> ShelfSession::thumbnail(int64_t id) {
    std::lock_guard lock(panel_.moduleCalls());
    const ShelfClient &owner = client();
    return shelf().presetFor(owner, id).thumbnail;
}

Json ShelfSession::apply(int64_t id) {
    std::lock_guard lock(panel_.moduleCalls());
    ShelfClient &owner = client();
    std::optional<std::string> refused;
    Json answer = panel_.redrawAfter([&] {
        refused = shelf().apply(id, owner);
        return false;
    });
    if (refused) answer["error"] = "the module refused the preset: " + *refused;
    return answer;
}

Json ShelfSession::rename(int64_t id, const std::string &name) {
    const std::string kept = presetName(name);
    std::lock_guard lock(panel_.moduleCalls());
    const ShelfClient &owner = client();
    shelf().presetFor(owner, id);
    shelf().store().rename(id, kept);
    return Json{{"name", kept}};
}

Json ShelfSession::remove(int64_t id) {
    std::lock_guard lock(panel_.moduleCalls());
    const ShelfClient &owner = client();
    shelf().presetFor(owner, id);
    shelf().store().remove(id);
    return Json::object();
}

Json ShelfSession::close() {
    std::lock_guard lock(panel_.moduleCalls());
    // The client first: without a shelf there is none, and no shelf to ask.
    ShelfClient &owner = client();
    shelf().close(owner);
    return Json::object();
}

}  // namespace qzhost
