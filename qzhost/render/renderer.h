// Drives a scene's filters over frames: render init once, new-time once per
// frame, then every pixel of the frame on all threads, and cleanup at the end.
#pragma once

#include <atomic>
#include <vector>

#include "qzhost/scene/loaded_scene.h"

namespace qzhost {

// One frame as the filters wrote it: red, green, blue and a fourth value per
// pixel, rows from the top.
struct Frame {
    int width = 0;
    int height = 0;
    std::vector<float> rgba;

    void resize(int w, int h);
    const float *pixel(int x, int y) const { return &rgba[(static_cast<size_t>(y) * width + x) * 4]; }
};

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
    // incomplete, when stop was raised meanwhile.
    bool render(int frame, double time, Frame &out, const std::atomic<bool> &stop);

    // Wall time spent evaluating pixels, summed over frames.
    double pixelSeconds() const { return pixelSeconds_; }

private:
    void evaluateRows(Frame &out, std::atomic<int> &nextRow, const std::atomic<bool> &stop) const;

    struct Pass {
        const FilterServer *server;
        void *instance;
    };
    std::vector<Pass> passes_;
    int width_;
    int height_;
    int threads_;
    double pixelSeconds_ = 0.0;
};

}  // namespace qzhost
