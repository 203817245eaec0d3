// Colouring a 1280x720 frame of the default view through pointColour, against
// the bare escape loop over the same points: what the colouring adds.
#include <benchmark/benchmark.h>

#include "bench/ratio_reporter.h"
#include "fractal/fractal.h"

namespace {

constexpr int kWidth = 1280;
constexpr int kHeight = 720;

vorlux::ViewGeometry defaultView() {
    vorlux::ViewGeometry view{-0.222, 0.8, 15.0, 0.0, 0.0};
    vorlux::applyRenderSteps(view, kWidth, 1.0);
    return view;
}

void PlainEscapeLoop(benchmark::State &state) {
    const vorlux::ViewGeometry view = defaultView();
    for (auto _ : state) {
        long total = 0;
        for (int y = 0; y < kHeight; ++y) {
            const double ci = (y - kHeight / 2) * view.stepY + view.centerY;
            for (int x = 0; x < kWidth; ++x) {
                total += vorlux::escapeCountReference((x - kWidth / 2) * view.stepX + view.centerX, ci);
            }
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

BENCHMARK(PlainEscapeLoop)->Unit(benchmark::kMillisecond);
BENCHMARK(PointColourFrame)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char **argv) { return runWithRatios(argc, argv, {{"PointColourFrame", "PlainEscapeLoop"}}); }
