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
    Json current = Json::array();
    const std::vector<Json> shown = panel_.filter().save();
    const auto &addFailure = shelf().lastAddFailure();
    std::string error = addFailure ? addFailure->what() : "";
    // A database another program has locked is a state to show in the
    // drawer, not a reason to hide it. The presets are listed while the
    // drawer is closed too, so that a page can tell which ones a button
    // press added even when the press also opened the drawer.
    try {
        for (const Preset &p : shelf().presetsFor(*client)) {
            presets.push_back({{"id", p.id}, {"name", p.name}, {"created", p.created}});
            if (p.settings == shown) current.push_back(p.id);
        }
    } catch (const HostError &e) {
        if (error.empty()) error = e.what();
    }
    return Json{{"available", true}, {"open", client->open}, {"presets", std::move(presets)}, {"current", std::move(current)}, {"error", error},
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
    // The module refreshes the panel even when it refuses part of a preset,
    // so the page redraws either way and is told of the refusal beside.
    std::optional<StateError> refused;
    Json answer = panel_.redrawAfter([&] {
        try {
            shelf().apply(id, owner);
        } catch (const StateError &e) {
            refused = e;
        }
        panel_.rememberView();
        return false;
    });
    if (refused) answer["error"] = std::string("the module refused the preset: ") + refused->what();
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
