// Rendering through the real host: what reaches each pixel, how frames are
// sampled in time, and what lands on disk.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <thread>

#include <OpenEXR/ImfChannelList.h>
#include <OpenEXR/ImfFrameBuffer.h>
#include <OpenEXR/ImfHeader.h>
#include <OpenEXR/ImfInputFile.h>

#include "fractal/fractal.h"
#include "qzhost/image/image_files.h"
#include "qzhost/render/progress.h"
#include "qzhost/render/render_job.h"
#include "qzhost/services/host.h"
#include "qzhost/web/panel_session.h"
#include "tests/host_errors.h"
#include "tests/view_blocks.h"

using namespace qzhost;
namespace fs = std::filesystem;

namespace {

SceneDocument sceneOf(int width, int height, double aspect, Json zoom) {
    const std::vector<Json> view{constantBlock("Center.X", -0.222), constantBlock("Center.Y", 0.8), zoom};
    return {FrameSettings{width, height, aspect, 24.0, 0, 5}, {{.module = VORLUX_MODULE_FILE, .state = view}}};
}

// The zoom keyed from one value at time zero to another at the given time, exponentially by default.
Json zoomKeys(double from, double time, double to, bool exponential = true) {
    Json first{{"time", 0}, {"value", from}};
    if (exponential) first["curve"] = "exponential";
    return {{"channel", "Zoom"}, {"keys", {first, {{"time", time}, {"value", to}}}}};
}

SceneDocument defaultView(int width, int height, double aspect = 1.0) {
    return sceneOf(width, height, aspect, {{"channel", "Zoom"}, {"value", 15.0}});
}

std::array<float, 4> colourOf(int count) {
    std::array<float, 4> rgba{0, 0, 0, 0};
    if (count < vorlux::kIterationLimit) vorlux::paletteColour(count, rgba.data());
    return rgba;
}

std::array<float, 4> pixelOf(const Frame &frame, int x, int y) {
    const float *p = frame.pixel(x, y);
    return {p[0], p[1], p[2], p[3]};
}

Frame renderOne(LoadedScene &scene, int frame, int threads = 2) {
    const FrameSettings &f = scene.frames();
    Renderer renderer(scene, f.width, f.height, f.pixelAspect, threads);
    Frame out;
    std::atomic<bool> stop{false};
    EXPECT_TRUE(renderer.render(frame, f.timeOf(frame), out, stop));
    return out;
}

std::vector<float> readExr(const fs::path &file) {
    Imf::InputFile in(file.c_str());
    const Imath::Box2i window = in.header().dataWindow();
    const int width = window.max.x - window.min.x + 1, height = window.max.y - window.min.y + 1;
    std::vector<float> rgba(static_cast<size_t>(width) * height * 4);
    Imf::FrameBuffer buffer;
    const char *names[] = {"R", "G", "B", "A"};
    for (int c = 0; c < 4; ++c) {
        buffer.insert(names[c], Imf::Slice(Imf::FLOAT, reinterpret_cast<char *>(rgba.data() + c), 16, 16 * width));
    }
    in.setFrameBuffer(buffer);
    in.readPixels(window.min.y, window.max.y);
    return rgba;
}

// Raises the stop flag once the given number of frames is done.
struct StopAfter : ProgressDisplay {
    StopAfter(std::atomic<bool> &stop, int frames) : stop(stop), frames(frames) {}
    void update(const RenderProgress &p, const fs::path &) override {
        if (p.done >= frames) stop = true;
    }
    void finish(const RenderProgress &) override {}

    std::atomic<bool> &stop;
    int frames;
};

// Frames first..last into an empty folder.
RenderRequest requestFor(const LoadedScene &scene, const fs::path &folder, int first, int last, int threads,
                         ImageFormat format = ImageFormat::Png8) {
    fs::remove_all(folder);
    fs::create_directories(folder);
    RenderRequest request{.frames = scene.frames(), .threads = threads, .folder = folder, .format = format};
    request.frames.first = first;
    request.frames.last = last;
    return request;
}

class Rendering : public ::testing::Test {
protected:
    Host host_;
    fs::path folder_ = fs::temp_directory_path() / "vorlux-render-test";
    std::unique_ptr<ProgressDisplay> silent_ = makeProgressDisplay(ProgressStyle::Quiet);
    std::atomic<bool> stop_{false};
    RenderProgress progress_;
};

}  // namespace

TEST_F(Rendering, DefaultViewFrameHasTheKnownCounts) {
    LoadedScene scene(host_, defaultView(640, 480), "");
    const Frame frame = renderOne(scene, 0);
    EXPECT_EQ(pixelOf(frame, 0, 0), colourOf(6));
    EXPECT_EQ(pixelOf(frame, 320, 240), colourOf(279));
    EXPECT_EQ(pixelOf(frame, 639, 479), colourOf(512));
    for (size_t i = 3; i < frame.rgba.size(); i += 4) ASSERT_EQ(frame.rgba[i], 0.0f) << "fourth value of pixel " << i / 4;
}

TEST_F(Rendering, PixelAspectTwoHalvesTheVerticalStep) {
    LoadedScene scene(host_, defaultView(640, 480, 2.0), "");
    const Frame frame = renderOne(scene, 0);
    const double stepX = 3.2 / 15.0 / 640.0;
    for (int dy : {-200, -37, 90, 239}) {
        const double ci = dy * -(stepX / 2.0) + 0.8;
        EXPECT_EQ(pixelOf(frame, 320, 240 + dy), colourOf(vorlux::escapeCount(-0.222, ci))) << dy;
    }
}

TEST_F(Rendering, AnimatedZoomIsSampledOncePerFrame) {
    LoadedScene scene(host_, sceneOf(160, 120, 1.0, zoomKeys(1, 1, 100)), "");
    // Frame 12 at 24 frames per second is half a second in: zoom 10 for every
    // pixel, the last row as much as the first.
    const Frame frame = renderOne(scene, 12);
    const double step = 3.2 / 10.0 / 160.0;
    int wrong = 0;
    for (int y = 0; y < 120; ++y) {
        for (int x = 0; x < 160; ++x) {
            const double cr = (x - 80) * step + -0.222;
            const double ci = (y - 60) * -step + 0.8;
            wrong += pixelOf(frame, x, y) != colourOf(vorlux::escapeCount(cr, ci));
        }
    }
    EXPECT_EQ(wrong, 0);
}

TEST_F(Rendering, FilesAreTheSameWhateverTheThreadsAndTheRange) {
    LoadedScene scene(host_, sceneOf(96, 64, 1.0, zoomKeys(15, 0.25, 1500)), "");
    const RenderRequest full = requestFor(scene, folder_ / "full", 0, 5, 1);
    ASSERT_TRUE(runRender(scene, full, stop_, *silent_, progress_));
    const RenderRequest part = requestFor(scene, folder_ / "part", 2, 3, 4);
    ASSERT_TRUE(runRender(scene, part, stop_, *silent_, progress_));
    for (int frame : {2, 3}) {
        EXPECT_EQ(contentOf(frameFile(part, frame)), contentOf(frameFile(full, frame))) << frame;
    }
    EXPECT_NE(contentOf(frameFile(full, 2)), contentOf(frameFile(full, 3)));
    EXPECT_EQ(filesIn(part.folder), 2);
    EXPECT_EQ(progress_.pixels, 2 * 96 * 64);
}

TEST_F(Rendering, InterruptedRenderLeavesWholeFramesAndResumes) {
    LoadedScene scene(host_, defaultView(64, 48), "");
    RenderRequest request = requestFor(scene, folder_ / "stopped", 0, 5, 2);
    StopAfter stopAfterTwo(stop_, 2);
    EXPECT_FALSE(runRender(scene, request, stop_, stopAfterTwo, progress_));
    const auto written = filesIn(request.folder);
    EXPECT_GE(written, 2);
    EXPECT_LT(written, 6) << "files are only finished frames, no temporary ones";

    stop_ = false;
    request.skipExisting = true;
    ASSERT_TRUE(runRender(scene, request, stop_, *silent_, progress_));
    EXPECT_EQ(progress_.skipped, written);
    EXPECT_EQ(progress_.done, 6);
    EXPECT_EQ(progress_.pixels, (6 - written) * 64 * 48) << "kept frames are not rendered pixels";
    EXPECT_EQ(filesIn(request.folder), 6);
}

TEST_F(Rendering, MissingSceneInfoFailsBeforeAnyFrame) {
    LoadedScene scene(host_, defaultView(64, 48), "");
    host_.registry().withdraw(HOST_SCENE_INFO);
    const RenderRequest request = requestFor(scene, folder_ / "failed", 0, 1, 1);
    EXPECT_EQ(errorOf([&] { runRender(scene, request, stop_, *silent_, progress_); }, kExitFailed),
              "filter 1 (Vorlux): Couldn't get image dimensions.");
    EXPECT_TRUE(fs::is_empty(request.folder));
}

// OpenEXR frames keep the floats bit for bit. PNG frames hold each sample at
// the nearest of the file's levels, in the byte order PNG files have: the
// centre's 0.33333 is 85 of 255, not 84.
TEST_F(Rendering, FramesOnDiskHoldTheRenderedSamplesAndVideoCollectsThem) {
    LoadedScene scene(host_, defaultView(64, 48), "");
    RenderRequest request = requestFor(scene, folder_ / "formats", 0, 2, 2, ImageFormat::Exr);
    request.video = request.folder / "zoom.mp4";
    ASSERT_TRUE(runRender(scene, request, stop_, *silent_, progress_));
    const Frame rendered = renderOne(scene, 0);
    EXPECT_GT(fs::file_size(request.folder / "zoom.mp4"), 0u);
    EXPECT_EQ(readExr(frameFile(request, 0)), rendered.rgba) << "bit for bit";
    EXPECT_EQ(filesIn(request.folder), 4) << "three frames and the video";

    for (const auto &[format, levels] : {std::pair{ImageFormat::Png8, 255}, std::pair{ImageFormat::Png16, 65535}}) {
        const RenderRequest png = requestFor(scene, folder_ / "png", 0, 0, 1, format);
        ASSERT_TRUE(runRender(scene, png, stop_, *silent_, progress_));
        const Frame read = readImage(frameFile(png, 0), format);
        ASSERT_EQ(read.rgba.size(), rendered.rgba.size());
        for (size_t i = 0; i < read.rgba.size(); ++i) {
            if (i % 4 != 3) {
                ASSERT_EQ(std::lround(read.rgba[i] * levels), std::lround(double{rendered.rgba[i]} * levels))
                    << i << " of " << levels;
            }
        }
        EXPECT_EQ(std::lround(read.pixel(32, 24)[0] * levels), levels == 255 ? 85 : 21845);
    }
}

TEST_F(Rendering, PreviewRedrawsDoNotTouchTheFrameBeingRendered) {
    LoadedScene scene(host_, sceneOf(200, 150, 2.0, zoomKeys(15, 1, 1500)), "");
    const auto renderFrames = [&] {
        std::vector<Frame> frames(4);
        Renderer renderer(scene, 200, 150, 2.0, 2);
        for (int f = 0; f < 4; ++f) renderer.render(f * 6, f * 0.25, frames[f], stop_);
        return frames;
    };
    const std::vector<Frame> alone = renderFrames();
    // The same frames again while the panel redraws its preview (another size,
    // square pixels) as fast as it can, between and during them.
    PanelSession session(scene, folder_ / "unused.json", Size{97, 61});
    std::atomic<bool> rendering{true};
    std::thread redraws([&] {
        while (rendering) {
            session.drawView();
            std::this_thread::sleep_for(std::chrono::milliseconds(1));  // let the renderer take its turn
        }
    });
    const std::vector<Frame> again = renderFrames();
    rendering = false;
    redraws.join();
    for (int f = 0; f < 4; ++f) EXPECT_EQ(again[f].rgba, alone[f].rgba) << "frame " << f * 6;
}

TEST_F(Rendering, APanelEditDuringARenderIsKeyedAtThePanelsTimeNotTheFrames) {
    LoadedScene scene(host_, sceneOf(32, 24, 1.0, zoomKeys(15, 4, 60, false)), "");
    PanelSession session(scene, folder_ / "unused.json", Size{32, 24});
    Renderer renderer(scene, 32, 24, 1.0, 1);
    Frame frame;
    renderer.render(48, 2.0, frame, stop_);
    session.setValue(0x8003, 20.0);
    EXPECT_EQ(scene.filter(0).save()[2]["keys"], Json::parse(R"([{"time": 0.0, "value": 20.0},
                                                                 {"time": 4.0, "value": 60.0}])"));
}

// Every text a module returns is checked: a frame it refuses stops the render
// with its text, a copy it refuses fails, a filter that refuses to start has
// those started before it finished again, and a missing description is
// replaced by the server's name.
TEST_F(Rendering, TextsAModuleReturnsAreReportedNotDropped) {
    SceneDocument document = defaultView(8, 8);
    document.filters[0].module = FIXTURE_DIR "/refuses.p";
    document.filters[0].server = "Fixture";
    document.filters[0].state.reset();
    LoadedScene scene(host_, document, "", moduleSearchPath({FIXTURE_DIR}));
    EXPECT_EQ(scene.filter(0).describe(), "Fixture");
    EXPECT_EQ(errorOf([&] { scene.filter(0).copyFrom(scene.filter(0)); }),
              "filter 'Fixture' could not copy another instance: copies are not supported");
    // This filter starts one render at a time.
    SceneDocument twice = document;
    twice.filters.push_back(twice.filters[0]);
    LoadedScene both(host_, twice, "", moduleSearchPath({FIXTURE_DIR}));
    EXPECT_EQ(errorOf([&] { Renderer renderer(both, 8, 8, 1.0, 1); }), "filter 2 (Fixture): a render is still running");
    const RenderRequest request = requestFor(scene, folder_ / "refused", 0, 1, 1);
    EXPECT_EQ(errorOf([&] { runRender(scene, request, stop_, *silent_, progress_); }, kExitFailed),
              "filter 1 (Fixture), frame 0: no frame today");
    EXPECT_TRUE(fs::is_empty(request.folder));
}

// Frames kept from an earlier run took no time here: the time left is worked
// out from the frames this run rendered. Six done, four of them kept: the two
// rendered took a minute less a quarter second, so the four to come take two
// (to the nearest second).
TEST(Progress, TimeLeftCountsOnlyTheFramesThisRunRenderedAndTheRateIsInMegapixels) {
    const RenderProgress progress{
        .frame = 5, .done = 6, .total = 10, .skipped = 4, .seconds = 59.75, .pixelSeconds = 2, .pixels = 3'000'000};
    testing::internal::CaptureStderr();
    makeProgressDisplay(ProgressStyle::Lines)->update(progress, "frame-0005.png");
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "frame 5 (6 of 10) written to frame-0005.png, 1.5 Mpixels/s, 2:00 left\n");
}
