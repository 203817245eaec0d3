// Drives a scene's filters over frames: render init once, new-time once per
// frame, then every pixel of the frame on all threads, and cleanup at the end.
#pragma once

#include <atomic>
#include <mutex>
#include <vector>

#include "qzhost/image/frame.h"
#include "qzhost/scene/loaded_scene.h"

namespace qzhost {

class Renderer {
public:
    // Tells the host the frame format and calls every filter's render init;
    // throws HostError (exit code 1) with the module's text when one refuses.
    Renderer(LoadedScene &scene, int width, int height, double pixelAspect, int threads);
    // Calls every filter's render cleanup.
    ~Renderer();
    Renderer(const Renderer &) = delete;
    Renderer &operator=(const Renderer &) = delete;

    // Renders one frame at a time in seconds. Returns false, with the frame
    // incomplete, when stop was raised meanwhile; throws HostError (exit
    // code 1) with the module's text when a filter refuses the frame.
    bool render(int frame, double time, Frame &out, const std::atomic<bool> &stop);

    // Wall time spent evaluating pixels, summed over frames.
    double pixelSeconds() const { return pixelSeconds_; }

private:
    // Calls render cleanup of every filter started so far.
    void finishAll();
    void evaluateRows(Frame &out, std::atomic<int> &nextRow, const std::atomic<bool> &stop) const;

    std::mutex &moduleCalls_;  // the host's lock on module calls
    std::vector<HostedFilter *> started_;
    int width_;
    int height_;
    int threads_;
    double pixelSeconds_ = 0.0;
};

}  // namespace qzhost
