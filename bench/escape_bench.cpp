// The module's per-pixel path against a straightforward filter, over the same 1280x720 frame of
// square pixels, for views from almost all interior to almost none.
//
// Both filters are callbacks of the host's per-pixel shape, called through a pointer for every
// pixel: the straightforward one maps the pixel, runs the plain loop and blends the palette
// colour of the count; the module's calls pointColour, as evaluatePixel does. The module's is
// called along rows (as hosts do), in 32x32 tiles and in a shuffled order, and along rows on each
// instruction set the row engine has here. In a shuffled order it is also compared with the
// module's filter before it counted runs (the fast escape count of each pixel on its own). The row engine and the scalar escape count are also
// timed alone.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "bench/ratio_reporter.h"
#include "fractal/fractal.h"
#include "fractal/row_engine.h"
#include "host/abi.h"

namespace {

constexpr int kWidth = 1280;
constexpr int kHeight = 720;
constexpr int kTile = 32;

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

vorlux::ViewGeometry geometryOf(const View &view) {
    vorlux::ViewGeometry geometry{view.centreX, view.centreY, view.zoom, 0.0, 0.0};
    vorlux::applySquareSteps(geometry, kWidth);
    return geometry;
}

// What the callbacks see of their instance.
struct Filter {
    vorlux::ViewGeometry view;
};

void colourPixel(const float *rgba) { benchmark::DoNotOptimize(rgba[0] + rgba[1] + rgba[2]); }

[[gnu::noinline]] void straightforwardFilter(void *inst, const PixelAccess *access) {
    const Filter &filter = *static_cast<const Filter *>(inst);
    const vorlux::PlanePoint c = vorlux::planePoint(access->x, access->y, kWidth, kHeight, filter.view);
    const int count = vorlux::escapeCountReference(c.cr, c.ci);
    float rgba[4] = {0.0f, 0.0f, 0.0f, 0.0f};
    if (count < vorlux::kIterationLimit) vorlux::paletteColour(count, rgba);
    access->setColour(rgba);
}

[[gnu::noinline]] void moduleFilter(void *inst, const PixelAccess *access) {
    const Filter &filter = *static_cast<const Filter *>(inst);
    float rgba[4] = {0.0f, 0.0f, 0.0f, 0.0f};
    vorlux::pointColour(access->x, access->y, kWidth, kHeight, filter.view, rgba);
    access->setColour(rgba);
}

// The module's filter as it was before it counted runs of a row: the fast escape count of each
// pixel on its own. Calls that do not walk along a row must cost no more than this.
[[gnu::noinline]] void perPixelFilter(void *inst, const PixelAccess *access) {
    const Filter &filter = *static_cast<const Filter *>(inst);
    const vorlux::PlanePoint c = vorlux::planePoint(access->x, access->y, kWidth, kHeight, filter.view);
    const float *colour = vorlux::countColour(vorlux::escapeCount(c.cr, c.ci));
    float rgba[4] = {colour[0], colour[1], colour[2], 0.0f};
    access->setColour(rgba);
}

using PixelCallback = void (*)(void *, const PixelAccess *);

struct Pixel {
    int x, y;
};

std::vector<Pixel> rowOrder() {
    std::vector<Pixel> order;
    for (int y = 0; y < kHeight; ++y) {
        for (int x = 0; x < kWidth; ++x) order.push_back({x, y});
    }
    return order;
}

std::vector<Pixel> tileOrder() {
    std::vector<Pixel> order;
    for (int ty = 0; ty < kHeight; ty += kTile) {
        for (int tx = 0; tx < kWidth; tx += kTile) {
            for (int y = ty; y < std::min(ty + kTile, kHeight); ++y) {
                for (int x = tx; x < std::min(tx + kTile, kWidth); ++x) order.push_back({x, y});
            }
        }
    }
    return order;
}

std::vector<Pixel> shuffledOrder() {
    std::vector<Pixel> order = rowOrder();
    std::shuffle(order.begin(), order.end(), std::mt19937_64(5));
    return order;
}

// A frame through a per-pixel callback, in the given order, on the given row engine path (empty:
// the widest).
void filterFrame(benchmark::State &state, PixelCallback callback, const View &view, const std::vector<Pixel> &order,
                 const std::string &path) {
    vorlux::chooseRowEnginePath(path);
    Filter filter{geometryOf(view)};
    PixelAccess access{};
    access.setColour = colourPixel;
    volatile PixelCallback call = callback;
    for (auto _ : state) {
        for (const Pixel &pixel : order) {
            access.x = pixel.x;
            access.y = pixel.y;
            call(&filter, &access);
        }
    }
    state.SetItemsProcessed(state.iterations() * kWidth * kHeight);
    vorlux::chooseRowEnginePath("");
}

void rowEngineFrame(benchmark::State &state, const View &view) {
    const vorlux::ViewGeometry geometry = geometryOf(view);
    std::vector<double> cr(kWidth);
    std::vector<int> counts(kWidth);
    for (auto _ : state) {
        for (int y = 0; y < kHeight; ++y) {
            vorlux::rowCounts(0, y, kWidth, kWidth, kHeight, geometry, cr.data(), counts.data());
            benchmark::DoNotOptimize(counts.data());
        }
    }
    state.SetItemsProcessed(state.iterations() * kWidth * kHeight);
}

void escapeCountFrame(benchmark::State &state, const View &view) {
    const vorlux::ViewGeometry geometry = geometryOf(view);
    for (auto _ : state) {
        long total = 0;
        for (int y = 0; y < kHeight; ++y) {
            for (int x = 0; x < kWidth; ++x) {
                const vorlux::PlanePoint c = vorlux::planePoint(x, y, kWidth, kHeight, geometry);
                total += vorlux::escapeCount(c.cr, c.ci);
            }
        }
        benchmark::DoNotOptimize(total);
    }
    state.SetItemsProcessed(state.iterations() * kWidth * kHeight);
}

}  // namespace

int main(int argc, char **argv) {
    const std::vector<Pixel> rows = rowOrder();
    const std::vector<Pixel> tiles = tileOrder();
    const std::vector<Pixel> shuffled = shuffledOrder();
    const std::vector<std::string> paths = vorlux::rowEnginePaths();
    std::printf("row engine: %s (this processor and build have: ", vorlux::rowEnginePath());
    for (const std::string &path : paths) std::printf("%s ", path.c_str());
    std::printf(")\n");

    std::vector<RatioReporter::Pair> pairs;
    const auto add = [&](const std::string &name, auto &&...arguments) {
        benchmark::RegisterBenchmark(name.c_str(), arguments...)->Unit(benchmark::kMillisecond)->UseRealTime();
        return name + "/real_time";
    };
    for (const View &view : kViews) {
        const std::string suffix = std::string("/") + view.name;
        const std::string baseline = add("StraightforwardFilter" + suffix, filterFrame, straightforwardFilter, view,
                                         rows, std::string());
        pairs.push_back({add("ModuleFilterRows" + suffix, filterFrame, moduleFilter, view, rows, std::string()),
                         baseline});
        pairs.push_back({add("ModuleFilterTiles" + suffix, filterFrame, moduleFilter, view, tiles, std::string()),
                         baseline});
        const std::string moduleShuffled =
            add("ModuleFilterShuffled" + suffix, filterFrame, moduleFilter, view, shuffled, std::string());
        pairs.push_back({moduleShuffled, baseline});
        pairs.push_back({moduleShuffled, add("PerPixelFilterShuffled" + suffix, filterFrame, perPixelFilter, view,
                                             shuffled, std::string())});
        for (std::size_t i = 1; i < paths.size(); ++i) {
            pairs.push_back({add("ModuleFilterRowsOn" + paths[i] + suffix, filterFrame, moduleFilter, view, rows,
                                 paths[i]),
                             baseline});
        }
        pairs.push_back({add("RowEngine" + suffix, rowEngineFrame, view), baseline});
        pairs.push_back({add("EscapeCount" + suffix, escapeCountFrame, view), baseline});
    }
    return runWithRatios(argc, argv, std::move(pairs));
}
