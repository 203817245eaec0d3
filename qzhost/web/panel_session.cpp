#include "qzhost/web/panel_session.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <set>

#include "qzhost/services/host.h"

namespace qzhost {
namespace {

constexpr const char *kPreviewType = "dThumbnail";
constexpr const char *kValueType = "float-env";

// UTF-8 continuation bytes do not start a character.
size_t characterCount(const std::string &text) {
    return std::count_if(text.begin(), text.end(), [](unsigned char byte) { return (byte & 0xC0) != 0x80; });
}

std::string presetName(const std::string &given) {
    const auto first = given.find_first_not_of(" \t");
    const std::string name =
        first == std::string::npos ? "" : given.substr(first, given.find_last_not_of(" \t") + 1 - first);
    const bool control =
        std::any_of(name.begin(), name.end(), [](unsigned char c) { return c < 0x20 || c == 0x7F; });
    if (name.empty() || control || characterCount(name) > kMaxPresetName) {
        throw BadRequest("a preset name must be 1 to " + std::to_string(kMaxPresetName) +
                         " characters, without line breaks or tabs");
    }
    return name;
}

// Only called once the instance's client has been found on it.
Shelf &hostShelf() { return *Host::current().shelf(); }

}  // namespace

PreviewSize parsePreviewSize(const std::string &text) {
    PreviewSize size;
    const char *end = text.data() + text.size();
    const auto [afterWidth, widthError] = std::from_chars(text.data(), end, size.width);
    bool parsed = widthError == std::errc() && afterWidth != end && (*afterWidth == 'x' || *afterWidth == 'X');
    if (parsed) {
        const auto [afterHeight, heightError] = std::from_chars(afterWidth + 1, end, size.height);
        parsed = heightError == std::errc() && afterHeight == end;
    }
    if (!parsed || size.width < 1 || size.height < 1 || size.width > kMaxPreviewSide ||
        size.height > kMaxPreviewSide) {
        throw HostError("--preview must be WIDTHxHEIGHT with sides 1 to " + std::to_string(kMaxPreviewSide) +
                        ", not '" + text + "'");
    }
    return size;
}

PanelSession::PanelSession(LoadedScene &scene, std::filesystem::path saveTo, PreviewSize preview)
    : mutex_(Host::current().moduleCalls()),
      scene_(scene),
      saveTo_(std::move(saveTo)),
      previewSize_(preview),
      open_(scene.filter(0)),
      panel_(open_.panel()) {
    for (const Control &control : panel_.controls) {
        if (control.type == kPreviewType && panel_.hints.previewDraw.count(control.id)) {
            preview_ = &control;
            break;
        }
    }
    // Gestures are measured in the preview's pixels, which the module learns
    // from a draw; the page may click before it has fetched one.
    if (preview_) drawPreview();
}

std::vector<const Control *> PanelSession::layout() const {
    std::vector<const Control *> order;
    std::set<unsigned long> placed;
    const auto place = [&](const Control *control) {
        if (control && placed.insert(control->id).second) order.push_back(control);
    };
    for (const auto &[group, ids] : panel_.hints.groups) {
        for (unsigned long id : ids) place(panel_.control(id));
    }
    for (const Control &control : panel_.controls) place(&control);
    return order;
}

ParamHandle PanelSession::valueHandle(unsigned long id) const {
    const Control *control = panel_.control(id);
    ParamHandle handle = control && control->type == kValueType && panel_.get ? panel_.get(panel_.instance, id)
                                                                               : nullptr;
    if (!handle) throw BadRequest("control " + std::to_string(id) + " holds no value");
    return handle;
}

Json PanelSession::controlJson(const Control &control) const {
    Json entry{{"id", control.id}, {"label", control.label}, {"type", control.type}};
    if (&control == preview_) {
        entry["width"] = previewSize_.width;
        entry["height"] = previewSize_.height;
    } else if (control.type == kValueType) {
        double value[3];
        entry["value"] = Host::current().params().table()->evaluate(valueHandle(control.id), Host::current().time(),
                                                                    nullptr, value);
        const auto guide = panel_.hints.guides.find(control.id);
        if (guide != panel_.hints.guides.end()) {
            if (guide->second.minimum) entry["min"] = *guide->second.minimum;
            if (guide->second.maximum) entry["max"] = *guide->second.maximum;
            if (guide->second.step) entry["step"] = *guide->second.step;
        }
    }
    return entry;
}

Json PanelSession::describe() {
    std::lock_guard lock(mutex_);
    Json controls = Json::array();
    for (const Control *control : layout()) controls.push_back(controlJson(*control));
    return Json{{"title", panel_.hints.title}, {"controls", std::move(controls)}, {"scene", saveTo_.string()}};
}

Raster PanelSession::drawPreview() {
    if (!preview_) throw BadRequest("the panel has no preview");
    Raster raster(previewSize_.width, previewSize_.height);
    std::lock_guard lock(mutex_);
    panel_.hints.previewDraw.at(preview_->id)(open_.handle(), preview_->id, &raster, raster.width, raster.height);
    return raster;
}

template <typename Call>
Json PanelSession::redrawAfter(Call call) {
    const unsigned before = panel_.refreshes;
    const bool redraw = call() || panel_.refreshes != before;
    unsaved_ = unsaved_ || redraw;
    return Json{{"redraw", redraw}};
}

Json PanelSession::setValue(unsigned long id, double value) {
    if (!std::isfinite(value)) throw BadRequest("a value must be a finite number");
    std::lock_guard lock(mutex_);
    const ParamHandle handle = valueHandle(id);
    double values[3] = {value, 0.0, 0.0};
    return redrawAfter([&] {
        Host::current().params().table()->setValue(handle, values);
        unsaved_ = true;
        return panel_.set && panel_.set(panel_.instance, id, values) == kPanelValueChanged;
    });
}

Json PanelSession::previewGesture(int x, int y, const int (&box)[4]) {
    if (!preview_) throw BadRequest("the panel has no preview");
    const auto inside = [&](int px, int py) {
        return px >= 0 && py >= 0 && px < previewSize_.width && py < previewSize_.height;
    };
    if (!inside(x, y) || !inside(box[0], box[1]) || !inside(box[2], box[3])) {
        throw BadRequest("a gesture must lie inside the preview");
    }
    const auto drag = panel_.hints.previewDrag.find(preview_->id);
    if (drag == panel_.hints.previewDrag.end()) throw BadRequest("the preview takes no clicks");
    std::lock_guard lock(mutex_);
    int region[4] = {box[0], box[1], box[2], box[3]};
    return redrawAfter([&] {
        drag->second.function(open_.handle(), preview_->id, x, y, region, 0);
        return false;
    });
}

Json PanelSession::pressButton(unsigned long id) {
    const auto button = panel_.hints.buttons.find(id);
    if (button == panel_.hints.buttons.end()) throw BadRequest("control " + std::to_string(id) + " is no button");
    std::lock_guard lock(mutex_);
    return redrawAfter([&] {
        button->second(open_.handle(), static_cast<int>(id));
        return false;
    });
}

Json PanelSession::select() {
    std::lock_guard lock(mutex_);
    if (panel_.hints.changeNotify) panel_.hints.changeNotify(open_.handle(), 0, 0, kPanelEventSelect);
    return Json::object();
}

ShelfClient *PanelSession::findShelfClient() const {
    if (Shelf *shelf = Host::current().shelf()) {
        for (const auto &client : shelf->clients()) {
            if (client->data == panel_.instance) return client.get();
        }
    }
    return nullptr;
}

ShelfClient &PanelSession::shelfClient() const {
    ShelfClient *client = findShelfClient();
    if (!client) throw BadRequest("this panel has no preset shelf");
    return *client;
}

Preset PanelSession::clientPreset(int64_t id) const {
    const ShelfClient &client = shelfClient();
    std::optional<Preset> preset = hostShelf().store().get(id);
    if (!preset || !client.owns(*preset)) {
        throw BadRequest("there is no preset " + std::to_string(id) + " for this panel");
    }
    return std::move(*preset);
}

Json PanelSession::shelf() {
    std::lock_guard lock(mutex_);
    const ShelfClient *client = findShelfClient();
    if (!client) return Json{{"available", false}, {"open", false}, {"presets", Json::array()}};
    Json presets = Json::array();
    std::string error = hostShelf().lastError();
    // A database another program has locked is a state to show in the
    // drawer, not a reason to hide it.
    try {
        if (client->open) {
            for (const Preset &p : hostShelf().presetsFor(*client)) {
                presets.push_back({{"id", p.id}, {"name", p.name}, {"created", p.created}});
            }
        }
    } catch (const HostError &e) {
        if (error.empty()) error = e.what();
    }
    return Json{{"available", true}, {"open", client->open}, {"presets", std::move(presets)}, {"error", error},
                {"longestName", kMaxPresetName}};
}

std::vector<unsigned char> PanelSession::presetThumbnail(int64_t id) {
    std::lock_guard lock(mutex_);
    return clientPreset(id).thumbnail;
}

Json PanelSession::applyPreset(int64_t id) {
    std::lock_guard lock(mutex_);
    clientPreset(id);
    ShelfClient &client = shelfClient();
    std::string refused;
    Json answer = redrawAfter([&] {
        refused = hostShelf().apply(id, client);
        return false;
    });
    if (!refused.empty()) answer["error"] = "the module refused the preset: " + refused;
    return answer;
}

Json PanelSession::renamePreset(int64_t id, const std::string &name) {
    const std::string kept = presetName(name);
    std::lock_guard lock(mutex_);
    clientPreset(id);
    hostShelf().store().rename(id, kept);
    return Json{{"name", kept}};
}

Json PanelSession::deletePreset(int64_t id) {
    std::lock_guard lock(mutex_);
    clientPreset(id);
    hostShelf().store().remove(id);
    return Json::object();
}

Json PanelSession::closeShelf() {
    std::lock_guard lock(mutex_);
    // The client first: without a shelf there is none, and no shelf to ask.
    ShelfClient &client = shelfClient();
    hostShelf().close(client);
    return Json::object();
}

std::filesystem::path PanelSession::save() {
    std::lock_guard lock(mutex_);
    scene_.save(saveTo_);
    unsaved_ = false;
    return saveTo_;
}

bool PanelSession::unsaved() {
    std::lock_guard lock(mutex_);
    return unsaved_;
}

}  // namespace qzhost
