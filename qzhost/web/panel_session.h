// One filter's panel as the web page sees it: its controls and values, its
// preview, and the edits, gestures and button presses the page sends. Every
// call into the module goes through here or the shelf session, one at a
// time, because the module is not thread-safe and the web server answers on
// several threads.
#pragma once

#include <atomic>
#include <filesystem>
#include <functional>
#include <mutex>
#include <optional>
#include <string>

#include "qzhost/base/size.h"
#include "qzhost/scene/loaded_scene.h"
#include "qzhost/services/open_panel.h"
#include "qzhost/web/view_history.h"

namespace qzhost {

inline constexpr int kMaxPreviewSide = 1024;
// How many preview sizes a gesture's box may reach beyond each side of the
// preview: far more than the page's zoom-out boxes need, and far from the
// sums of corners that would overflow in the module.
inline constexpr int kGestureReach = 16;

// The preview's size from "WxH"; throws HostError naming the option unless
// both sides are 1 to kMaxPreviewSide.
Size parsePreviewSize(const std::string &text);

// The largest size within the box that has the frame's shape as rendered
// (its pixel aspect included), so that the preview shows what renders.
Size previewSizeFor(Size box, const FrameSettings &frames);

// A gesture made on a view that has changed since the page drew it; it was
// not applied. The page gets it as a 409.
struct StaleView : HostError {
    explicit StaleView(const std::string &message) : HostError(message) {}
};

// A drawn preview and the version of the view it shows.
struct DrawnView {
    Raster raster;
    unsigned long view;
};

class PanelSession {
public:
    // Opens the panel of the scene's first filter; saves go to saveTo.
    PanelSession(LoadedScene &scene, std::filesystem::path saveTo, Size preview);

    // Title, controls in the order the panel groups them, their values and
    // hinted guides, and the preview's control and size.
    // "view" is the version of the view the values belong to.
    // "history" says which steps of the view's history there are to take.
    Json describe();
    DrawnView drawView();

    // Each answers {"redraw": true, "view": version} when the page should
    // redraw the preview and re-read the values. An edit that would leave a
    // parameter with a value it cannot hold (see editValue) changes nothing
    // and throws BadRequest with the reason.
    Json setValue(unsigned long id, double value);
    // A click (a box of one point) or a dragged box on the preview, in its
    // pixels. The press point lies inside the preview; the box may reach
    // beyond it (kGestureReach), as a box larger than the preview zooms out.
    // With the version of the view it was made on, it throws
    // StaleView when the view has changed since.
    Json previewGesture(int x, int y, const int (&box)[4], std::optional<unsigned long> madeOn = std::nullopt);
    Json pressButton(unsigned long id);

    // Steps through the view's history: every value at once, through the
    // host's parameter editing, as one change. Answers as the edits do, with
    // no redraw when there is no such step; a step the parameters cannot
    // take (after their keys changed) throws BadRequest and changes nothing.
    enum class HistoryStep { back, forward, reset };
    Json goInHistory(HistoryStep step);
    // With the lock held, after a change of values the history should keep.
    void rememberView();
    // Tells the module that its panel has become the user's focus, upon
    // which it selects its client on the preset shelf.
    Json select();

    // Writes the scene file, whole or not at all; returns where it went.
    std::filesystem::path save();
    // Whether a value has changed, or the module asked for a redraw, since
    // the last save.
    bool unsaved();

    // For the shelf and animation sessions and the frame strip, which call
    // the same module on the same panel and scene.
    Host &host() { return scene_.host(); }
    LoadedScene &scene() { return scene_; }
    OpenPanel &panel() { return open_; }
    std::mutex &moduleCalls() { return mutex_; }
    HostedFilter &filter() { return scene_.filter(0); }
    // The version of the view: it moves on with every change the page
    // should redraw for. Read without the lock.
    unsigned long view() const { return view_; }

    // Runs a module call, with the lock held, that answers whether the
    // module reported a change, and tells the page to redraw after a change
    // or a refresh request.
    template <typename Call>
    Json redrawAfter(Call call) {
        const unsigned before = open_.refreshes();
        const bool redraw = call() || open_.refreshes() != before;
        unsaved_ = unsaved_ || redraw;
        if (redraw) ++view_;
        return Json{{"redraw", redraw}, {"view", view_.load()}};
    }

private:
    // Runs an edit that may set values through the parameter service; a
    // value it cannot set, refused by the service or the edit itself,
    // undoes the whole edit and throws BadRequest.
    void undoIfRefused(const std::function<void()> &edit);
    std::vector<const Control *> layout() const;
    Json controlJson(const Control &control) const;
    // The values of the value controls at the editing time, in valueIds_' order.
    ViewHistory::Values currentValues() const;
    void restoreValues(const ViewHistory::Values &values);

    std::mutex &mutex_;  // the host's lock on module calls
    LoadedScene &scene_;
    std::filesystem::path saveTo_;
    Size previewSize_;
    OpenPanel open_;
    const Control *preview_;
    std::vector<unsigned long> valueIds_;
    ViewHistory history_;
    bool unsaved_ = false;
    std::atomic<unsigned long> view_ = 1;
};

}  // namespace qzhost
