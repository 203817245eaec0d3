// One filter's panel as the web page sees it: its controls and values, its
// preview, and the edits, gestures and button presses the page sends. Every
// call into the module goes through here, one at a time, because the module
// is not thread-safe and the web server answers on several threads.
#pragma once

#include <filesystem>
#include <mutex>
#include <string>
#include <stdexcept>

#include "qzhost/loader/interface.h"
#include "qzhost/scene/loaded_scene.h"
#include "qzhost/services/shelf.h"

namespace qzhost {

// A request that names something the panel does not have.
struct BadRequest : std::runtime_error {
    using std::runtime_error::runtime_error;
};

inline constexpr int kMaxPreviewSide = 1024;
// The longest preset name the page may give, in characters.
inline constexpr size_t kMaxPresetName = 100;

struct PreviewSize {
    int width = 320;
    int height = 240;
};

// Reads "WxH"; throws HostError unless both sides are 1 to kMaxPreviewSide.
PreviewSize parsePreviewSize(const std::string &text);

class PanelSession {
public:
    // Opens the panel of the scene's first filter; saves go to saveTo.
    PanelSession(LoadedScene &scene, std::filesystem::path saveTo, PreviewSize preview);

    // Title, controls in the order the panel groups them, their values and
    // hinted guides, and the preview's control and size.
    Json describe();
    Raster drawPreview();

    // Each answers {"redraw": true} when the page should redraw the preview
    // and re-read the values.
    Json setValue(unsigned long id, double value);
    // A click (a box of one point) or a dragged box on the preview, in its pixels.
    Json previewGesture(int x, int y, const int (&box)[4]);
    Json pressButton(unsigned long id);
    // Tells the module that its panel has become the user's focus, upon
    // which it selects its client on the preset shelf.
    Json select();

    // The preset shelf as this panel's instance sees it: whether the host
    // offers one, whether it is open for the instance, the presets it can
    // take, the last failure to add one, and the longest name it takes.
    Json shelf();
    // A preset's thumbnail as stored: PNG bytes.
    std::vector<unsigned char> presetThumbnail(int64_t id);
    // Loads a preset through the module; the answer also carries "error"
    // when the module refused part of it.
    Json applyPreset(int64_t id);
    // Names are trimmed and must be 1 to kMaxPresetName characters without
    // control characters.
    Json renamePreset(int64_t id, const std::string &name);
    Json deletePreset(int64_t id);
    Json closeShelf();

    // Writes the scene file, whole or not at all; returns where it went.
    std::filesystem::path save();
    // Whether a value has changed, or the module asked for a redraw, since
    // the last save.
    bool unsaved();

private:
    std::vector<const Control *> layout() const;
    Json controlJson(const Control &control) const;
    ParamHandle valueHandle(unsigned long id) const;
    // The instance's client on the shelf, or null without a shelf.
    ShelfClient *findShelfClient() const;
    // The same; throws BadRequest without one.
    ShelfClient &shelfClient() const;
    // One of the presets the client can take; throws BadRequest otherwise.
    Preset clientPreset(int64_t id) const;
    // Runs a module call, which answers whether the module reported a change,
    // and tells the page to redraw after a change or a refresh request.
    template <typename Call>
    Json redrawAfter(Call call);

    std::mutex &mutex_;  // the host's lock on module calls
    LoadedScene &scene_;
    std::filesystem::path saveTo_;
    PreviewSize previewSize_;
    OpenPanel open_;
    Panel &panel_;
    const Control *preview_ = nullptr;
    bool unsaved_ = false;
};

}  // namespace qzhost
