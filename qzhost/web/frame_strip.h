// Frames of a panel's scene, rendered as `qzhost render --frames N --size
// WxH` renders them, for the page's strip across the frame range and its
// enlarged frame. They are rendered on a twin of the scene, whose filters
// take the panel's state before each frame: the render pass sets an
// instance's view to the frame's time, and the panel's instance keeps the
// view at time 0 that its preview and gestures work on.
#pragma once

#include <memory>
#include <mutex>
#include <vector>

#include "qzhost/base/size.h"
#include "qzhost/web/panel_session.h"

namespace qzhost {

// The frames a strip of `count` shows: evenly spaced from the first frame to
// the last, each once (fewer when the range is shorter).
std::vector<int> stripFrames(const FrameSettings &frames, int count);

// The scene frame scaled down so that its longer side is at most `longest`,
// keeping its shape: both sides in proportion (at least 1), the pixel aspect
// unchanged. A frame is never scaled up.
Size scaledFrame(const FrameSettings &frames, int longest);

class FrameStrip {
public:
    static constexpr int kFrames = 8;
    static constexpr int kSide = 256;      // the longer side of the strip's frames
    static constexpr int kMaxSide = 2048;  // of any frame asked for

    // Loads the twin scene, taking the module lock: construct it before
    // the server answers requests.
    explicit FrameStrip(PanelSession &panel);
    ~FrameStrip();
    FrameStrip(const FrameStrip &) = delete;
    FrameStrip &operator=(const FrameStrip &) = delete;

    // {"frames": [frame numbers], "width": W, "height": H} of the strip.
    Json describe() const;

    // The frame with that longer side (see scaledFrame), of the panel's
    // state at the given view, as the bytes of the PNG file `qzhost render`
    // would write. Frames are rendered one at a time, and one asked for a
    // view that is no longer the panel's when its turn comes throws
    // StaleView unrendered, so that requests for older changes do not pile
    // up. A frame outside the scene's range or a side outside 1 to kMaxSide
    // throws BadRequest.
    std::vector<unsigned char> png(int frame, int longest, unsigned long view);

private:
    PanelSession &panel_;
    std::unique_ptr<LoadedScene> twin_;
    std::mutex turn_;  // one frame at a time on the twin
};

}  // namespace qzhost
