// The fast escape count against the plain loop over the same 1280x720 frame of square pixels,
// mapped as pointColour maps them, for views from almost all interior to almost none.
#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "bench/ratio_reporter.h"
#include "fractal/fractal.h"

namespace {

constexpr int kWidth = 1280;
constexpr int kHeight = 720;

struct View {
    const char *name;
    double centreX, centreY, zoom;
};

constexpr View kViews[] = {
    {"default", -0.222, 0.8, 15.0},
    {"whole_set", -0.5, 0.0, 1.0},
    {"seahorse_valley", -0.745, 0.1, 100.0},
    {"default_x1000", -0.222, 0.8, 1000.0},
    {"outside", 1.0, 1.0, 2.0},
    {"minibrot", -0.743643887, 0.131825904, 1e6},
};

template <int (*count)(double, double)>
void frame(benchmark::State &state, const View &view) {
    vorlux::ViewGeometry geometry{view.centreX, view.centreY, view.zoom, 0.0, 0.0};
    vorlux::applySquareSteps(geometry, kWidth);
    for (auto _ : state) {
        long total = 0;
        for (int y = 0; y < kHeight; ++y) {
            const double ci = (y - (kHeight >> 1)) * geometry.stepY + geometry.centerY;
            for (int x = 0; x < kWidth; ++x) {
                total += count((x - (kWidth >> 1)) * geometry.stepX + geometry.centerX, ci);
            }
        }
        benchmark::DoNotOptimize(total);
    }
    state.SetItemsProcessed(state.iterations() * kWidth * kHeight);
}

}  // namespace

int main(int argc, char **argv) {
    std::vector<RatioReporter::Pair> pairs;
    for (const View &view : kViews) {
        const std::string plain = std::string("PlainLoop/") + view.name;
        const std::string fast = std::string("EscapeCount/") + view.name;
        benchmark::RegisterBenchmark(plain.c_str(), frame<vorlux::escapeCountReference>, view)
            ->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark(fast.c_str(), frame<vorlux::escapeCount>, view)->Unit(benchmark::kMillisecond);
        pairs.push_back({fast, plain});
    }
    return runWithRatios(argc, argv, std::move(pairs));
}
