#include "qzhost/web/panel_session.h"

#include <algorithm>
#include <cmath>
#include <set>

#include "qzhost/services/host.h"

namespace qzhost {
namespace {

std::vector<unsigned long> valueControls(const OpenPanel &open) {
    std::vector<unsigned long> ids;
    for (const Control &control : open.panel().controls) {
        if (open.holdsValue(control.id)) ids.push_back(control.id);
    }
    return ids;
}

}  // namespace

Size parsePreviewSize(const std::string &text) { return parseSize(text, kMaxPreviewSide, "--preview"); }

Size previewSizeFor(Size box, const FrameSettings &frames) {
    const double aspect = frames.width * frames.pixelAspect / frames.height;
    const auto side = [](double length) { return std::max(1, static_cast<int>(std::lround(length))); };
    if (box.width >= box.height * aspect) return {side(box.height * aspect), box.height};
    return {box.width, side(box.width / aspect)};
}

PanelSession::PanelSession(LoadedScene &scene, std::filesystem::path saveTo, Size preview)
    : mutex_(scene.host().moduleCalls()),
      scene_(scene),
      saveTo_(std::move(saveTo)),
      previewSize_(preview),
      open_(scene.host(), scene.filter(0)),
      preview_(open_.preview()),
      valueIds_(valueControls(open_)),
      history_(currentValues()) {
    // Gestures are measured in the preview's pixels, which the module learns
    // from a draw; the page may click before it has fetched one.
    if (preview_) drawView();
}

std::vector<const Control *> PanelSession::layout() const {
    const Panel &panel = open_.panel();
    std::vector<const Control *> order;
    std::set<unsigned long> placed;
    const auto place = [&](const Control *control) {
        if (control && placed.insert(control->id).second) order.push_back(control);
    };
    for (const auto &[group, ids] : panel.hints.groups) {
        for (unsigned long id : ids) place(panel.control(id));
    }
    for (const Control &control : panel.controls) place(&control);
    return order;
}

Json PanelSession::controlJson(const Control &control) const {
    Json entry{{"id", control.id}, {"label", control.label}, {"type", control.type}};
    if (&control == preview_) {
        entry["width"] = previewSize_.width;
        entry["height"] = previewSize_.height;
    } else if (open_.holdsValue(control.id)) {
        entry["value"] = open_.value(control.id);
        const auto &guides = open_.panel().hints.guides;
        if (const auto guide = guides.find(control.id); guide != guides.end()) {
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
    // The page tells controls apart by these names, so that they are spelled
    // only where the module and the host agree on them.
    const Json types{
        {"preview", HOST_CONTROL_THUMBNAIL}, {"value", HOST_CONTROL_FLOAT_ENV}, {"button", HOST_CONTROL_BUTTON}};
    return Json{{"title", open_.panel().hints.title},
                {"controls", std::move(controls)},
                {"controlTypes", types},
                {"scene", saveTo_.string()},
                {"view", view_.load()},
                {"history", {{"back", history_.canGoBack()}, {"forward", history_.canGoForward()},
                             {"reset", currentValues() != history_.opened()}}}};
}

DrawnView PanelSession::drawView() {
    Raster raster(previewSize_.width, previewSize_.height);
    std::lock_guard lock(mutex_);
    open_.draw(raster);
    return {std::move(raster), view_};
}

Json PanelSession::setValue(unsigned long id, double value) {
    std::lock_guard lock(mutex_);
    return redrawAfter([&] {
        const bool changed = open_.setValue(id, value);
        unsaved_ = true;
        rememberView();
        return changed;
    });
}

Json PanelSession::previewGesture(int x, int y, const int (&box)[4], std::optional<unsigned long> madeOn) {
    const auto within = [](int at, int size, int reach) { return at >= -reach * size && at < (reach + 1) * size; };
    const auto near = [&](int px, int py, int reach) {
        return within(px, previewSize_.width, reach) && within(py, previewSize_.height, reach);
    };
    if (!near(x, y, 0)) throw BadRequest("a gesture's press point must lie inside the preview");
    if (!near(box[0], box[1], kGestureReach) || !near(box[2], box[3], kGestureReach)) {
        throw BadRequest("a gesture's box may reach at most " + std::to_string(kGestureReach) +
                         " preview sizes beyond the preview");
    }
    std::lock_guard lock(mutex_);
    if (madeOn && *madeOn != view_) {
        throw StaleView("the view has changed since that gesture was made on it; it was not applied");
    }
    return redrawAfter([&] {
        undoIfRefused([&] { open_.gesture(x, y, box); });
        rememberView();
        return false;
    });
}

Json PanelSession::pressButton(unsigned long id) {
    std::lock_guard lock(mutex_);
    return redrawAfter([&] {
        undoIfRefused([&] { open_.press(id); });
        return false;
    });
}

void PanelSession::undoIfRefused(const std::function<void()> &edit) {
    HostedFilter &filter = scene_.filter(0);
    const std::vector<Json> before = filter.save();
    host().params().takeRefusal();
    std::optional<std::string> refusal;
    try {
        edit();
        refusal = host().params().takeRefusal();
    } catch (const BadRequest &e) {
        refusal = e.what();
    }
    if (refusal) {
        // The module keeps its own copy of the values it set, and some of
        // them may have been taken: loading the state saved before puts
        // both back as they were.
        filter.load(before);
        throw BadRequest(*refusal);
    }
}

ViewHistory::Values PanelSession::currentValues() const {
    ViewHistory::Values values;
    for (unsigned long id : valueIds_) values.push_back(open_.value(id));
    return values;
}

void PanelSession::restoreValues(const ViewHistory::Values &values) {
    undoIfRefused([&] {
        for (size_t i = 0; i < valueIds_.size(); ++i) open_.setValue(valueIds_[i], values[i]);
    });
}

void PanelSession::rememberView() { history_.record(currentValues()); }

Json PanelSession::goInHistory(HistoryStep step) {
    std::lock_guard lock(mutex_);
    return redrawAfter([&] {
        const ViewHistory::Values now = currentValues();
        const ViewHistory::Restore restore = [this](const ViewHistory::Values &values) { restoreValues(values); };
        switch (step) {
        case HistoryStep::back: return history_.back(now, restore);
        case HistoryStep::forward: return history_.forward(now, restore);
        case HistoryStep::reset: return history_.reset(now, restore);
        }
        return false;
    });
}

Json PanelSession::select() {
    std::lock_guard lock(mutex_);
    open_.notify(HOST_PANEL_EVENT_SELECT);
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
