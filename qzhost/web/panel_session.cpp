#include "qzhost/web/panel_session.h"

#include <charconv>
#include <cmath>
#include <set>

#include "qzhost/services/host.h"

namespace qzhost {
namespace {

constexpr const char *kPreviewType = "dThumbnail";
constexpr const char *kValueType = "float-env";

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
