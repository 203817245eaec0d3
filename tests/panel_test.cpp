// The host's panel service: reading hint lists, drawing, and the panel the
// module builds through it when its interface server is activated.
#include <gtest/gtest.h>

#include <array>

#include "qzhost/services/open_panel.h"
#include "qzhost/services/host.h"
#include "tests/view_blocks.h"

using namespace qzhost;

namespace {

constexpr unsigned long kPreview = 0x8004;

void someButton(void *, int) {}

TEST(HintList, UnknownTagsAreSkippedByTheirCounts) {
    // The unknown hints carry words that look like known tags; only the
    // counts in their own tags say where they end.
    const intptr_t words[] = {
        0x3D7F0002, HOST_HINT_TITLE, HOST_HINT_STEP,
        0x3D7F0181, HOST_HINT_MINIMUM, 7, HOST_HINT_MAXIMUM, 0,
        HOST_HINT_BUTTON, 0x8006, reinterpret_cast<intptr_t>(someButton),
        0x3D7F0080, 0,
        HOST_HINT_STEP, 0x8003, -5,
        0,
    };
    PanelHints hints;
    EXPECT_TRUE(readHints(words, hints));
    EXPECT_EQ(hints.unknownTags, (std::vector<intptr_t>{0x3D7F0002, 0x3D7F0181, 0x3D7F0080}));
    EXPECT_TRUE(hints.title.empty());
    EXPECT_TRUE(hints.guides.count(0x8003) && !hints.guides[0x8003].minimum);
    EXPECT_EQ(hints.guides[0x8003].step, -5);
    EXPECT_EQ(hints.buttons.at(0x8006), someButton);
}

TEST(HintList, AListWithoutItsEndIsCutAtTheCap) {
    PanelHints hints;
    std::vector<intptr_t> words(kMaxHintWords + 64, 0x3D7F0000);  // hints of no arguments, and no 0
    EXPECT_FALSE(readHints(words.data(), hints));
    EXPECT_EQ(hints.unknownTags.size(), kMaxHintWords);

    // An id list that never ends, and fixed arguments that run past the cap.
    std::vector<intptr_t> group(kMaxHintWords + 64, 0x8001);
    group[0] = HOST_HINT_GROUP;
    EXPECT_FALSE(readHints(group.data(), hints));
    EXPECT_FALSE(hints.groups.count(0x8001));
    std::vector<intptr_t> last(kMaxHintWords, 0x3D7F0000);
    last.back() = HOST_HINT_STEP;
    EXPECT_FALSE(readHints(last.data(), hints));
}

TEST(Drawing, PixelsOutsideTheRasterAreIgnored) {
    Host host;
    const DrawingTable &drawing = *host.panels().table()->drawing;
    Raster raster(2, 2);
    for (auto [x, y] : {std::pair{-1, 0}, {2, 0}, {0, -1}, {0, 2}}) drawing.drawPixel(&raster, 9, 9, 9, x, y);
    EXPECT_EQ(raster.rgb, std::vector<uint8_t>(12, 0));
    drawing.drawPixel(&raster, 1, 2, 3, 1, 1);
    EXPECT_EQ(std::vector<uint8_t>(raster.rgb.begin() + 9, raster.rgb.end()), (std::vector<uint8_t>{1, 2, 3}));
}

TEST(PanelTables, ATableWithoutItsEndIsCutAtTheCap) {
    Host host;
    const PanelService &panels = *host.panels().table();
    const std::vector<ControlEntry> endless(1000, ControlEntry{0x8001, "Zoom", HOST_CONTROL_FLOAT_ENV});
    void *handle = panels.create(HOST_PANEL_TYPE_FORM, endless.data());
    panels.describe(handle, endless.data(), nullptr, nullptr);
    EXPECT_EQ(host.panels().get(handle).controls.size(), 256u);
    EXPECT_EQ(host.panels().get(handle).data.size(), 256u);
    host.panels().destroy(handle);
}

class ModulePanel : public ::testing::Test {
protected:
    Host host_;
    LoadedModule module_{VORLUX_MODULE_FILE};
    FilterServer server_{module_, "Vorlux", host_.lookup()};
    HostedFilter filter_{server_};
};

TEST_F(ModulePanel, EveryHintOfTheModuleIsUnderstood) {
    OpenPanel open(host_, filter_);
    const Panel &panel = open.panel();
    const PanelHints &hints = panel.hints;
    EXPECT_TRUE(hints.unknownTags.empty());
    EXPECT_EQ(hints.title, "Vorlux");
    EXPECT_TRUE(hints.changeNotify && hints.destroyNotify);
    EXPECT_EQ(hints.buttons.size(), 2u);
    EXPECT_TRUE(hints.buttons.count(0x8006) && hints.buttons.count(0x8007));
    EXPECT_TRUE(hints.previewDraw.count(kPreview));
    EXPECT_EQ(hints.previewDrag.at(kPreview).mode, 2);
    const std::vector<unsigned long> group{kPreview, 0x8001, 0x8002, 0x8003, 0x8006, 0x8007};
    EXPECT_EQ(hints.groups.at(0x8005), group);
    // Each value control carries a whole guide, and only they do; the numbers
    // themselves are checked where the user meets them, in the page's description.
    const std::vector<unsigned long> values{0x8001, 0x8002, 0x8003};
    for (const unsigned long id : values) {
        const ValueGuide &guide = hints.guides.at(id);
        ASSERT_TRUE(guide.minimum && guide.maximum) << id;
        EXPECT_LT(*guide.minimum, *guide.maximum) << id;
    }
    EXPECT_EQ(hints.guides.size(), values.size());

    EXPECT_EQ(panel.controls.size(), 6u);
    EXPECT_EQ(panel.data.size(), 3u);
    EXPECT_EQ(panel.instance, filter_.instance());
    EXPECT_EQ(panel.userData.at(0), filter_.instance());
    EXPECT_EQ(panel.get(panel.instance, kPreview), nullptr);
    EXPECT_NE(panel.get(panel.instance, 0x8003), nullptr);
}

TEST_F(ModulePanel, ClosingReleasesThePanelAfterTheModuleHearsOfIt) {
    {
        OpenPanel open(host_, filter_);
        EXPECT_EQ(host_.panels().liveCount(), 1u);
    }
    EXPECT_EQ(host_.panels().liveCount(), 0u);
    // The instance outlives its panel and can open another.
    OpenPanel again(host_, filter_);
    EXPECT_EQ(filter_.describe(), "Vorlux  (-0.222, 0.8)  15");
}

// The host shows the frame it edits; the instance's view stays the one at time zero.
TEST_F(ModulePanel, AnEditOfAKeyedValueAtAnotherTimeKeepsTheViewAtTimeZero) {
    filter_.load({constantBlock("Center.X", 0.25), constantBlock("Center.Y", -0.5),
                  Json::parse(R"({"channel": "Zoom", "keys": [{"time": 0, "value": 20}, {"time": 2, "value": 40}]})")});
    OpenPanel open(host_, filter_);
    host_.setEditTime(2.0);
    EXPECT_TRUE(open.setValue(0x8003, 80.0));
    EXPECT_EQ(open.value(0x8003), 80.0);
    EXPECT_EQ(filter_.describe(), "Vorlux  (0.25, -0.5)  20");
}

// Rows grow downwards and the plane's imaginary axis upwards, and a box
// centres the view on itself as well as zooming. Each asks for a redraw.
TEST_F(ModulePanel, ClicksAndBoxesMoveTheCentreThereAndAskForARefresh) {
    OpenPanel open(host_, filter_);
    const Panel &panel = open.panel();
    Raster raster(64, 48);
    panel.hints.previewDraw.at(kPreview)(open.handle(), kPreview, &raster, 64, 48);
    const auto gesture = [&](int x, int y, std::array<int, 4> box) {
        panel.hints.previewDrag.at(kPreview).function(open.handle(), kPreview, x, y, box.data(), 0);
    };
    const auto value = [&](int index) { return filter_.save()[index]["value"].get<double>(); };
    const double step = 3.2 / 15 / 64;

    // A hand that moves a pixel or two while clicking still clicks, where it pressed.
    gesture(31, 20, {31, 20, 33, 21});
    EXPECT_EQ(panel.refreshes, 1u);
    EXPECT_DOUBLE_EQ(value(2), 15.0);
    EXPECT_DOUBLE_EQ(value(0), -0.222 - step) << "a click left of the centre moves it left";
    EXPECT_DOUBLE_EQ(value(1), 0.8 + 4 * step) << "and above the centre, up";

    // A wide box 16 pixels across in the top left corner, centred on (8, 6):
    // four times the zoom, centred where the box was.
    gesture(0, 0, {0, 0, 15, 11});
    EXPECT_DOUBLE_EQ(value(2), 60.0);
    EXPECT_EQ(panel.refreshes, 2u);
    EXPECT_DOUBLE_EQ(value(0), -0.222 - 25 * step);
    EXPECT_DOUBLE_EQ(value(1), 0.8 + 4 * step + 18 * step);

    // A tall box is measured by its height, in the new steps.
    const double zoomed = step / 4;
    gesture(60, 47, {63, 47, 60, 24});
    EXPECT_DOUBLE_EQ(value(2), 60.0 * 64 / 24);
    EXPECT_DOUBLE_EQ(value(0), -0.222 - 25 * step + 30 * zoomed);
    EXPECT_DOUBLE_EQ(value(1), 0.8 + 22 * step - 12 * zoomed);
}

}  // namespace
