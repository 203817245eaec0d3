// Colouring a 1280x720 frame of the default view through pointColour, against
// counting the same pixels through the same per-pixel path without the
// colouring: what the colouring adds.
#include <benchmark/benchmark.h>

#include "bench/ratio_reporter.h"
#include "fractal/fractal.h"
#include "fractal/pixel_runs.h"

namespace {

constexpr int kWidth = 1280;
constexpr int kHeight = 720;

vorlux::ViewGeometry defaultView() {
    vorlux::ViewGeometry view{-0.222, 0.8, 15.0, 0.0, 0.0};
    vorlux::applyRenderSteps(view, kWidth, 1.0);
    return view;
}

void PixelCountFrame(benchmark::State &state) {
    const vorlux::ViewGeometry view = defaultView();
    for (auto _ : state) {
        long total = 0;
        for (int y = 0; y < kHeight; ++y) {
            for (int x = 0; x < kWidth; ++x) total += vorlux::pixelCount(x, y, kWidth, kHeight, view);
        }
        benchmark::DoNotOptimize(total);
    }
    state.SetItemsProcessed(state.iterations() * kWidth * kHeight);
}

void PointColourFrame(benchmark::State &state) {
    const vorlux::ViewGeometry view = defaultView();
    for (auto _ : state) {
        float rgb[3];
        for (int y = 0; y < kHeight; ++y) {
            for (int x = 0; x < kWidth; ++x) {
                vorlux::pointColour(x, y, kWidth, kHeight, view, rgb);
                benchmark::DoNotOptimize(rgb);
            }
        }
    }
    state.SetItemsProcessed(state.iterations() * kWidth * kHeight);
}

BENCHMARK(PixelCountFrame)->Unit(benchmark::kMillisecond);
BENCHMARK(PointColourFrame)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char **argv) { return runWithRatios(argc, argv, {{"PointColourFrame", "PixelCountFrame"}}); }
