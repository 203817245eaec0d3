#include "qzhost/web/frame_strip.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <thread>

#include "qzhost/image/image_files.h"
#include "qzhost/render/renderer.h"

namespace qzhost {

std::vector<int> stripFrames(const FrameSettings &frames, int count) {
    std::vector<int> picked;
    const double span = frames.last - frames.first;
    for (int i = 0; i < count; ++i) {
        const double share = count > 1 ? static_cast<double>(i) / (count - 1) : 0.0;
        const int frame = frames.first + static_cast<int>(std::lround(span * share));
        if (picked.empty() || picked.back() != frame) picked.push_back(frame);
    }
    return picked;
}

Size scaledFrame(const FrameSettings &frames, int longest) {
    const double scale = std::min(1.0, static_cast<double>(longest) / std::max(frames.width, frames.height));
    const auto side = [&](int length) { return std::max(1, static_cast<int>(std::lround(length * scale))); };
    return {side(frames.width), side(frames.height)};
}

FrameStrip::FrameStrip(PanelSession &panel) : panel_(panel) {
    std::lock_guard lock(panel.moduleCalls());
    const LoadedScene &scene = panel.scene();
    twin_ = std::make_unique<LoadedScene>(panel.host(), scene.snapshot(), scene.file(), scene.trustedModuleFolders());
}

FrameStrip::~FrameStrip() {
    std::lock_guard lock(panel_.moduleCalls());
    twin_.reset();
}

Json FrameStrip::describe() const {
    const Size size = scaledFrame(twin_->frames(), kSide);
    return Json{{"frames", stripFrames(twin_->frames(), kFrames)}, {"width", size.width}, {"height", size.height}};
}

std::vector<unsigned char> FrameStrip::png(int frame, int longest, unsigned long view) {
    const FrameSettings &frames = twin_->frames();
    if (frame < frames.first || frame > frames.last) {
        throw BadRequest("frame " + std::to_string(frame) + " is not among the scene's frames " +
                         std::to_string(frames.first) + " to " + std::to_string(frames.last));
    }
    if (longest < 1 || longest > kMaxSide) {
        throw BadRequest("a frame's longer side must be from 1 to " + std::to_string(kMaxSide) + " pixels");
    }
    std::lock_guard turn(turn_);
    {
        std::lock_guard lock(panel_.moduleCalls());
        if (panel_.view() != view) {
            throw StaleView("the view has changed since that frame was asked for; it was not rendered");
        }
        // The saved form, as a scene saved now would hold it.
        for (size_t i = 0; i < twin_->size(); ++i) twin_->filter(i).load(panel_.scene().filter(i).save());
    }
    // Half the cores at most, so that the preview keeps the others.
    const int threads = static_cast<int>(std::max(1u, std::thread::hardware_concurrency() / 2));
    const Size size = scaledFrame(frames, longest);
    Frame rendered;
    const std::atomic<bool> never{false};
    Renderer renderer(*twin_, size.width, size.height, frames.pixelAspect, threads);
    renderer.render(frame, frames.timeOf(frame), rendered, never);
    return png8Bytes(rendered);
}

}  // namespace qzhost
