// The render path measured against itself in one run: the module's per-pixel
// path against the row engine counting the same frame directly, two threads
// against one, a whole render against the same render through the module of an
// earlier build, and how much of a whole render goes to anything but evaluating
// pixels.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "bench/ratio_reporter.h"
#include "fractal/fractal.h"
#include "qzhost/render/progress.h"
#include "qzhost/render/render_job.h"
#include "qzhost/scene/default_scene.h"
#include "qzhost/services/host.h"

namespace {

using namespace qzhost;

constexpr int kWidth = 1280;
constexpr int kHeight = 720;

SceneDocument defaultViewScene() {
    SceneDocument scene;
    scene.frames = FrameSettings{kWidth, kHeight, 1.0, 24.0, 0, 0};
    FilterEntry filter;
    filter.module = VORLUX_MODULE_FILE;
    scene.filters.push_back(filter);
    return scene;
}

// The counts the module's per-pixel path gives, from the row engine directly.
void RowEngineFrame(benchmark::State &state) {
    vorlux::ViewGeometry view{-0.222, 0.8, 15.0, 0.0, 0.0};
    vorlux::applyRenderSteps(view, kWidth, 1.0);
    double cr[kWidth];
    int counts[kWidth];
    for (auto _ : state) {
        for (int y = 0; y < kHeight; ++y) {
            vorlux::rowCounts(0, y, kWidth, kWidth, kHeight, view, cr, counts);
            benchmark::DoNotOptimize(counts);
        }
    }
}

void ModuleFrame(benchmark::State &state) {
    Host host;
    LoadedScene scene(host, defaultViewScene(), "");
    Renderer renderer(scene, kWidth, kHeight, 1.0, static_cast<int>(state.range(0)));
    Frame frame;
    std::atomic<bool> stop{false};
    for (auto _ : state) renderer.render(0, 0.0, frame, stop);
}

// The first dozen frames of the built-in scene through the given module file, written as PNG
// files with the given number of threads.
void EndToEndRender(benchmark::State &state, const std::string &module, int threads) {
    const auto folder = std::filesystem::temp_directory_path() / "vorlux-render-bench";
    std::filesystem::create_directories(folder);
    Host host;
    const SceneDocument document = defaultScene(module);
    LoadedScene scene(host, document, "");
    RenderRequest request;
    request.frames = document.frames;
    request.frames.last = 11;
    request.threads = threads;
    request.folder = folder;
    const auto quiet = makeProgressDisplay(ProgressStyle::Quiet);
    std::atomic<bool> stop{false};
    double outside = 0;
    for (auto _ : state) {
        RenderProgress progress;
        runRender(scene, request, stop, *quiet, progress);
        outside = 1.0 - progress.pixelSeconds / progress.seconds;
    }
    state.counters["outside_pixels"] = outside;
    std::filesystem::remove_all(folder);
}

BENCHMARK(RowEngineFrame)->Unit(benchmark::kMillisecond);
BENCHMARK(ModuleFrame)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(ModuleFrame)->Arg(2)->Unit(benchmark::kMillisecond)->UseRealTime();

// Takes --previous-module=FILE out of the arguments: a module file of an earlier build, whose
// whole render the current module's is compared with.
std::string previousModule(int &argc, char **argv) {
    const std::string flag = "--previous-module=";
    std::string file;
    int kept = 0;
    for (int i = 0; i < argc; ++i) {
        const std::string argument = argv[i];
        if (i > 0 && argument.starts_with(flag)) {
            file = argument.substr(flag.size());
        } else {
            argv[kept++] = argv[i];
        }
    }
    argc = kept;
    return file;
}

}  // namespace

// Each render runs once per repetition; these are the names Google Benchmark reports them by.
constexpr const char *kEndToEnd1 = "EndToEndRender/1_thread/iterations:1/real_time";
constexpr const char *kEndToEnd2 = "EndToEndRender/2_threads/iterations:1/real_time";

// Usage: render_bench [--previous-module=FILE] [benchmark options]
int main(int argc, char **argv) {
    std::vector<RatioReporter::Pair> pairs = {{"ModuleFrame/1/real_time", "RowEngineFrame"},
                                              {"ModuleFrame/2/real_time", "ModuleFrame/1/real_time"},
                                              {kEndToEnd2, kEndToEnd1}};
    const auto addRender = [](const std::string &name, const std::string &module, int threads) {
        benchmark::RegisterBenchmark(name.c_str(), EndToEndRender, module, threads)
            ->Unit(benchmark::kMillisecond)
            ->Iterations(1)
            ->UseRealTime();
    };
    addRender("EndToEndRender/1_thread", VORLUX_MODULE_FILE, 1);
    addRender("EndToEndRender/2_threads", VORLUX_MODULE_FILE, 2);
    const std::string previous = previousModule(argc, argv);
    if (!previous.empty()) {
        if (!std::filesystem::is_regular_file(previous)) {
            std::fprintf(stderr, "render_bench: --previous-module: no module file at %s\n", previous.c_str());
            return 2;
        }
        addRender("EndToEndRenderPrevious/2_threads", previous, 2);
        pairs.push_back({kEndToEnd2, "EndToEndRenderPrevious/2_threads/iterations:1/real_time"});
    }
    return runWithRatios(argc, argv, std::move(pairs));
}
