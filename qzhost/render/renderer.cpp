#include "qzhost/render/renderer.h"

#include <chrono>
#include <cstring>
#include <mutex>
#include <thread>

#include "qzhost/base/error.h"

namespace qzhost {
namespace {

// The colour setter carries no context, so each rendering thread points it
// at the pixel it is evaluating.
thread_local float *pixelTarget = nullptr;

void setColour(const float rgba[4]) { std::memcpy(pixelTarget, rgba, 4 * sizeof(float)); }

}  // namespace

Renderer::Renderer(LoadedScene &scene, int width, int height, double pixelAspect, int threads)
    : moduleCalls_(scene.host().moduleCalls()), width_(width), height_(height), threads_(threads) {
    std::lock_guard lock(moduleCalls_);
    scene.host().setFrameFormat(width, height, pixelAspect);
    for (size_t i = 0; i < scene.size(); ++i) {
        HostedFilter &filter = scene.filter(i);
        try {
            filter.startRender();
        } catch (const HostError &e) {
            finishAll();
            throw HostError("filter " + std::to_string(i + 1) + " (" + filter.server().name() + "): " + e.what(),
                            e.exitCode());
        }
        started_.push_back(&filter);
    }
}

Renderer::~Renderer() {
    std::lock_guard lock(moduleCalls_);
    finishAll();
}

void Renderer::finishAll() {
    for (HostedFilter *filter : started_) filter->finishRender();
    started_.clear();
}

bool Renderer::render(int frame, double time, Frame &out, const std::atomic<bool> &stop) {
    {
        std::lock_guard lock(moduleCalls_);
        for (size_t i = 0; i < started_.size(); ++i) {
            try {
                started_[i]->newTime(frame, time);
            } catch (const HostError &e) {
                throw HostError("filter " + std::to_string(i + 1) + " (" + started_[i]->server().name() +
                                    "), frame " + std::to_string(frame) + ": " + e.what(),
                                e.exitCode());
            }
        }
    }
    out.resize(width_, height_);

    const auto start = std::chrono::steady_clock::now();
    std::atomic<int> nextRow{0};
    {
        std::vector<std::jthread> helpers;
        for (int t = 1; t < threads_; ++t) helpers.emplace_back([&] { evaluateRows(out, nextRow, stop); });
        evaluateRows(out, nextRow, stop);
    }
    pixelSeconds_ += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    return !stop.load();
}

// Pixels are evaluated without the lock: the filter reads only what render
// new-time left for this frame. Rows are handed out one at a time, so that threads that drew cheap rows
// (far outside the set) take more of them than threads on costly ones.
void Renderer::evaluateRows(Frame &out, std::atomic<int> &nextRow, const std::atomic<bool> &stop) const {
    for (int y = nextRow++; y < height_ && !stop.load(std::memory_order_relaxed); y = nextRow++) {
        PixelAccess access{0.0, static_cast<double>(y), nullptr, setColour};
        float *row = &out.rgba[static_cast<size_t>(y) * width_ * 4];
        for (int x = 0; x < width_; ++x) {
            access.x = x;
            pixelTarget = row + static_cast<size_t>(x) * 4;
            for (const HostedFilter *filter : started_) filter->evaluate(access);
        }
    }
}

}  // namespace qzhost
