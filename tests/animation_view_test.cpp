// The animation section of the panel page: key edits checked as a scene
// load checks them, and frames of the strip as `qzhost render` renders them.
#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>

#include "qzhost/image/image_files.h"
#include "qzhost/render/renderer.h"
#include "qzhost/services/host.h"
#include "qzhost/web/animation_session.h"
#include "qzhost/web/frame_strip.h"
#include "tests/session_helpers.h"
#include "tests/view_blocks.h"

using namespace qzhost;

namespace {

constexpr unsigned long kCenterX = 0x8001, kZoom = 0x8003;

// The default view, with the zoom animated over a second.
SceneDocument zoomingScene() {
    SceneDocument scene = oneVorluxFilter();
    scene.frames = FrameSettings{.width = 96, .height = 80, .pixelAspect = 1.5, .fps = 24, .first = 0, .last = 24};
    scene.filters[0].state = std::vector<Json>{
        constantBlock("Center.X", -0.222),
        constantBlock("Center.Y", 0.8),
        {{"channel", "Zoom"},
         {"keys", {{{"time", 0}, {"value", 15}, {"curve", "exponential"}}, {{"time", 1}, {"value", 600}}}}},
    };
    return scene;
}

class AnimationView : public ::testing::Test {
protected:
    std::string refusal(unsigned long id, const Json &block) {
        try {
            animation_.setBlock(id, block);
        } catch (const BadRequest &e) {
            return e.what();
        }
        return "accepted";
    }

    Host host_;
    LoadedScene scene_{host_, zoomingScene(), {}};
    std::filesystem::path saved_ = std::filesystem::path(::testing::TempDir()) / "animation-view-scene.json";
    PanelSession session_{scene_, saved_, {48, 40}};
    AnimationSession animation_{session_};
    FrameStrip strip_{session_};
};

// A click that both centre channels refuse is answered with the first refusal.
TEST_F(AnimationView, AGestureTwoChannelsRefuseIsAnsweredWithTheFirstRefusal) {
    const Json positive = Json::parse(R"({"keys": [{"time": 0, "value": 0.001, "curve": "exponential"}, {"time": 1, "value": 1}]})");
    animation_.setBlock(kCenterX, positive);
    animation_.setBlock(0x8002, positive);
    try {
        session_.previewGesture(0, 39, {0, 39, 0, 39});  // bottom left: both below zero
        ADD_FAILURE() << "accepted";
    } catch (const BadRequest &e) {
        EXPECT_TRUE(std::string(e.what()).starts_with("cannot set channel 'Center.X' to -")) << e.what();
    }
}

TEST_F(AnimationView, KeysAreRefusedForWhatASceneFileWouldBeRefusedAndChangeNothing) {
    const std::vector<Json> before = scene_.filter(0).save();
    const Json bad[] = {
        Json::parse(R"({"keys": [{"time": 0, "value": 15, "curve": "exponential"}, {"time": 1, "value": -3}]})"),
        Json::parse(R"({"keys": [{"time": 1, "value": 2}, {"time": 1, "value": 3}]})"),
        Json::parse(R"({"keys": [{"time": 0, "value": 2, "curve": "bouncy"}]})"),
        Json::parse(R"({"keys": [{"time": "soon", "value": 2}]})"),
        Json::parse(R"({"keys": [{"time": 0, "value": 2, "tmie": 1}]})"),
        Json::parse(R"({"keys": []})"),
        Json::parse(R"({"value": 1, "keys": [{"time": 0, "value": 2}]})"),
    };
    for (const Json &block : bad) {
        const std::string reason = refusal(kZoom, block);
        // The same words a scene holding that block gets from its load.
        SceneDocument document = zoomingScene();
        Json stored = block;
        stored["channel"] = "Zoom";
        document.filters[0].state->at(2) = stored;
        try {
            LoadedScene loaded(host_, document, {});
            ADD_FAILURE() << "a scene loaded " << block.dump();
        } catch (const HostError &e) {
            const std::string loaderSays = e.what();
            EXPECT_TRUE(reason != "accepted" && loaderSays.ends_with(reason)) << reason << "\n" << loaderSays;
        }
    }
    EXPECT_EQ(refusal(0x9999, Json::parse(R"({"value": 1})")), "control 39321 holds no value");
    EXPECT_EQ(scene_.filter(0).save(), before);
    EXPECT_EQ(session_.view(), 1u);
}

TEST_F(AnimationView, NewKeysMoveTheViewAtTimeZeroAndAreSaved) {
    const Json keys = Json::parse(R"([{"time": 0, "value": 30, "curve": "smooth"}, {"time": 0.5, "value": 90}])");
    const Json answer = animation_.setBlock(kZoom, {{"keys", keys}});
    EXPECT_EQ(answer, Json::parse(R"({"redraw": true, "view": 2})"));
    EXPECT_EQ(describedValue(session_, kZoom), 30.0);
    EXPECT_EQ(scene_.filter(0).describe(), "Vorlux  (-0.222, 0.8)  30") << "the module's own view follows";
    animation_.setBlock(kCenterX, {{"value", 0.25}});
    EXPECT_EQ(animation_.describe()["channels"][0]["block"], Json::parse(R"({"channel": "Center.X", "value": 0.25})"));
    session_.save();
    const std::vector<Json> state = *readSceneFile(saved_).filters.at(0).state;
    EXPECT_EQ(state.at(2), (Json{{"channel", "Zoom"}, {"keys", keys}}));
    EXPECT_EQ(state.at(0)["value"], 0.25);
}

TEST_F(AnimationView, AFrameIsWhatRenderingTheSavedSceneGivesAndTheViewAtTimeZeroStays) {
    const Json keys = Json::parse(R"([{"time": 0, "value": 15, "curve": "exponential"}, {"time": 1, "value": 4000}])");
    const std::vector<unsigned char> before = strip_.png(12, 64, session_.view());
    animation_.setBlock(kZoom, {{"keys", keys}});
    const std::vector<unsigned char> after = strip_.png(12, 64, session_.view());
    EXPECT_NE(after, before);
    EXPECT_EQ(scene_.filter(0).describe(), "Vorlux  (-0.222, 0.8)  15") << "a frame leaves the panel's view alone";

    session_.save();
    LoadedScene reloaded(host_, readSceneFile(saved_), saved_);
    const Size size = scaledFrame(reloaded.frames(), 64);
    ASSERT_EQ(size.width, 64);
    ASSERT_EQ(size.height, 53);
    Frame rendered;
    Renderer(reloaded, size.width, size.height, reloaded.frames().pixelAspect, 1)
        .render(12, reloaded.frames().timeOf(12), rendered, std::atomic<bool>{false});
    EXPECT_EQ(after, png8Bytes(rendered));
}

TEST_F(AnimationView, AFrameForAViewThatHasMovedOnIsNotRendered) {
    const unsigned long asked = session_.view();
    session_.setValue(kCenterX, -0.5);
    EXPECT_THROW(strip_.png(0, 64, asked), StaleView);
    EXPECT_THROW(strip_.png(25, 64, session_.view()), BadRequest);
    EXPECT_THROW(strip_.png(0, 0, session_.view()), BadRequest);
    EXPECT_THROW(strip_.png(0, FrameStrip::kMaxSide + 1, session_.view()), BadRequest);
}

TEST(FrameStripLayout, FramesFromFirstToLastEachOnceAtTheScenesShape) {
    const auto frames = [](int first, int last) {
        return stripFrames(FrameSettings{.first = first, .last = last}, FrameStrip::kFrames);
    };
    EXPECT_EQ(frames(0, 119), (std::vector<int>{0, 17, 34, 51, 68, 85, 102, 119}));
    EXPECT_EQ(frames(10, 13), (std::vector<int>{10, 11, 12, 13}));
    EXPECT_EQ(frames(5, 5), (std::vector<int>{5}));
    const auto scaled = [](int width, int height, int longest) {
        const Size size = scaledFrame(FrameSettings{.width = width, .height = height}, longest);
        return std::pair(size.width, size.height);
    };
    EXPECT_EQ(scaled(1280, 720, 256), std::pair(256, 144));
    EXPECT_EQ(scaled(720, 1280, 256), std::pair(144, 256));
    EXPECT_EQ(scaled(64, 48, 256), std::pair(64, 48)) << "never scaled up";
    EXPECT_EQ(scaled(32768, 1, 256), std::pair(256, 1));
}

}  // namespace
