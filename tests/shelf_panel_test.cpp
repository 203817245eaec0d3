// The module's preset buttons and shelf callbacks through the host's real
// shelf, and the panel session that gives the web page the shelf drawer.
#include <gtest/gtest.h>

#include <filesystem>
#include <optional>

#include "qzhost/image/png.h"
#include "qzhost/services/open_panel.h"
#include "qzhost/web/shelf_session.h"
#include "tests/host_errors.h"
#include "tests/session_helpers.h"
#include "tests/view_blocks.h"

using namespace qzhost;
namespace fs = std::filesystem;

namespace {

constexpr unsigned long kCenterX = 0x8001, kZoom = 0x8003, kPreview = 0x8004, kOpenShelf = 0x8006,
                        kAddPreset = 0x8007;

Preset presetFor(const std::string &name, std::vector<Json> settings) {
    return Preset{0, "PixelFilterHandler", "Vorlux", name, "", std::move(settings), encodeRgb8(1, 1, {0, 0, 0})};
}

class ShelfPanel : public ::testing::Test {
protected:
    const Panel &panel() { return open_->panel(); }
    Shelf &shelf() { return *host_.shelf(); }
    ShelfClient &client() { return *shelf().clients().at(0); }
    std::vector<Preset> presets() { return shelf().presetsFor(client()); }
    void press(unsigned long id) { panel().hints.buttons.at(id)(open_->handle(), static_cast<int>(id)); }
    double centerX() { return filter_.save()[0]["value"].get<double>(); }

    HostWithShelf host_{freshShelf()};
    LoadedModule module_{VORLUX_MODULE_FILE};
    FilterServer server_{module_, "Vorlux", host_.lookup()};
    HostedFilter filter_{server_};
    std::optional<OpenPanel> open_{std::in_place, host_, filter_};
};

TEST_F(ShelfPanel, AddPresetOpensAClosedShelfFirstAndOtherwiseOnlyAdds) {
    ASSERT_EQ(shelf().clients().size(), 1u);
    EXPECT_FALSE(client().open);
    // Each open, close and add counts as one change of the shelf.
    const struct { const char *step; unsigned long button; bool open; size_t presets; uint64_t changes; } steps[] = {
        {"add to the closed shelf", kAddPreset, true, 1, 2},
        {"add to the open shelf", kAddPreset, true, 2, 1},
        {"close the shelf", 0, false, 2, 1},
        {"open it again", kOpenShelf, true, 2, 1},
    };
    for (const auto &step : steps) {
        SCOPED_TRACE(step.step);
        const uint64_t before = shelf().changes();
        if (step.button != 0) press(step.button);
        else shelf().close(client());
        EXPECT_EQ(client().open, step.open);
        EXPECT_EQ(presets().size(), step.presets);
        EXPECT_EQ(shelf().changes(), before + step.changes);
    }
    EXPECT_EQ(host_.images().liveCount(), 0u) << "each thumbnail is released once it is stored";
}

// Adding a preset renders a thumbnail of its own: neither the frame's shape
// nor that render may leak into the thumbnail or into the preview's steps.
TEST_F(ShelfPanel, TheThumbnailCentreIsTheViewCentreInSquarePixelsAndAClickAfterAnAddMovesByOnePreviewStep) {
    press(kAddPreset);
    // A render of a frame with wide pixels in between must not skew the next thumbnail.
    host_.setFrameFormat(64, 48, 2.0);
    const RenderOps &render = server_.renderOps();
    ASSERT_EQ(render.init(filter_.instance(), 0), nullptr);
    ASSERT_EQ(render.newTime(filter_.instance(), 0, 0.0), nullptr);
    press(kAddPreset);
    render.cleanup(filter_.instance());

    const std::vector<Preset> stored = presets();
    ASSERT_EQ(stored.size(), 2u);
    const DecodedPng first = decodePng(stored[0].thumbnail);
    ASSERT_EQ(std::pair(first.width, first.height), std::pair(128, 128));
    // The centre escapes after 279 iterations: (0.33333, 0, 0.185546875), rounded to bytes.
    const auto centre = first.rgb.begin() + (64 * 128 + 64) * 3;
    EXPECT_EQ(std::vector(centre, centre + 3), (std::vector<unsigned char>{85, 0, 47}));
    EXPECT_EQ(decodePng(stored[1].thumbnail).rgb, first.rgb);

    Raster raster(64, 48);
    panel().hints.previewDraw.at(kPreview)(open_->handle(), kPreview, &raster, 64, 48);
    press(kAddPreset);
    int click[4] = {33, 24, 33, 24};
    panel().hints.previewDrag.at(kPreview).function(open_->handle(), kPreview, 33, 24, click, 0);
    EXPECT_DOUBLE_EQ(centerX(), -0.222 + 3.2 / 15 / 64);
}

// A preset is checked whole before any of it is taken; the panel is
// refreshed either way, with the values at time zero.
TEST_F(ShelfPanel, ApplyingAPresetTakesItWholeOrNotAtAllAndRefreshesThePanel) {
    const Json centre[] = {constantBlock("Center.X", 0.25), constantBlock("Center.Y", -0.5)};
    const int64_t broken = shelf().store().add(
        presetFor("Broken", {centre[0], centre[1], {{"channel", "Zoom"}, {"value", "deep"}}}));
    const std::vector<Json> before = filter_.save();
    const unsigned refreshes = panel().refreshes;
    const uint64_t changes = shelf().changes();
    EXPECT_THROW(shelf().apply(broken, client()), StateError) << "the refused block is reported";
    EXPECT_EQ(panel().refreshes, refreshes + 1);
    EXPECT_EQ(shelf().changes(), changes + 1) << "pages showing the shelf look again";
    EXPECT_EQ(filter_.save(), before) << "the good blocks before the refused one are not taken either";

    const Json keys = {{{"time", 0}, {"value", 20}}, {{"time", 1}, {"value", 40}}};
    const int64_t keyed =
        shelf().store().add(presetFor("Keyed", {centre[0], centre[1], {{"channel", "Zoom"}, {"keys", keys}}}));
    host_.setEditTime(0.5);
    EXPECT_NO_THROW(shelf().apply(keyed, client()));
    EXPECT_GT(panel().refreshes, refreshes + 1);
    EXPECT_EQ(filter_.describe(), "Vorlux  (0.25, -0.5)  20");
}

// Two instances with panels open: each panel selects, refreshes and
// unsubscribes its own instance, also after one is copied onto the other.
TEST_F(ShelfPanel, EachPanelSelectsRefreshesAndUnsubscribesItsOwnInstanceAlsoAfterACopy) {
    press(kOpenShelf);
    ASSERT_EQ(shelf().selected(), &client());
    HostedFilter other(server_);
    uint64_t changes = shelf().changes();
    std::optional<OpenPanel> otherPanel{std::in_place, host_, other};
    EXPECT_EQ(shelf().changes(), changes + 1) << "a new subscriber";
    ShelfClient &otherClient = *shelf().clients().at(1);
    ASSERT_EQ(shelf().selected(), &client()) << "opening a panel selects nothing yet";

    changes = shelf().changes();
    otherPanel->notify(HOST_PANEL_EVENT_SELECT);
    EXPECT_EQ(shelf().selected(), &otherClient);
    EXPECT_EQ(shelf().changes(), changes + 1);
    open_->notify(HOST_PANEL_EVENT_SELECT);
    EXPECT_EQ(shelf().selected(), &client());

    other.copyFrom(filter_);
    ASSERT_EQ(otherClient.data, other.instance());
    const int64_t id = shelf().store().add(presetFor("Plain", filter_.save()));
    const unsigned refreshes = panel().refreshes;
    const unsigned otherRefreshes = otherPanel->panel().refreshes;
    EXPECT_NO_THROW(shelf().apply(id, otherClient));
    EXPECT_GT(otherPanel->panel().refreshes, otherRefreshes);
    EXPECT_EQ(panel().refreshes, refreshes);

    otherPanel.reset();
    ASSERT_EQ(shelf().clients().size(), 1u);
    EXPECT_EQ(client().data, filter_.instance());
    // The selected one last, so that its selection must go with it.
    changes = shelf().changes();
    open_.reset();
    EXPECT_EQ(shelf().changes(), changes + 1);
    EXPECT_TRUE(shelf().clients().empty());
    EXPECT_EQ(shelf().selected(), nullptr);
}

class ShelfDrawer : public ::testing::Test {
protected:
    Json value(unsigned long id) { return describedValue(session_, id); }

    HostWithShelf host_{freshShelf()};
    LoadedScene scene_{host_, oneVorluxFilter(), {}};
    PanelSession session_{scene_, fs::path(::testing::TempDir()) / "shelf-session.json", {64, 48}};
    ShelfSession shelf_{session_};
};

TEST_F(ShelfDrawer, ThePageAddsAppliesRenamesAndDeletesPresetsAndShowsAnAddThatFoundTheDatabaseLocked) {
    EXPECT_EQ(shelf_.describe(), Json::parse(R"({"available": true, "open": false, "presets": [], "current": [],
                                                "error": "", "longestName": 100})"));
    // An add that finds the database locked opens the drawer too, and its failure shows until an add succeeds.
    {
        OtherProgram other(host_.shelf()->store().file());
        ASSERT_EQ(other.run("BEGIN IMMEDIATE"), SQLITE_OK);
        session_.pressButton(kAddPreset);
        const Json locked = shelf_.describe();
        EXPECT_TRUE(locked["open"].get<bool>());
        EXPECT_TRUE(locked["presets"].empty());
        EXPECT_NE(locked["error"].get<std::string>().find("cannot add a preset: it is locked by another program"),
                  std::string::npos);
        other.run("ROLLBACK");
    }

    session_.pressButton(kAddPreset);
    Json shelf = shelf_.describe();
    EXPECT_EQ(shelf["error"], "");
    ASSERT_TRUE(shelf["open"].get<bool>());
    ASSERT_EQ(shelf["presets"].size(), 1u);
    const int64_t id = shelf["presets"][0]["id"];
    EXPECT_EQ(shelf["presets"][0]["name"], "Preset 1");
    EXPECT_EQ(decodePng(shelf_.thumbnail(id)).width, 128);

    session_.setValue(kZoom, 100.0);
    session_.previewGesture(40, 10, {40, 10, 40, 10});
    const Json applied = shelf_.apply(id);
    EXPECT_EQ(applied, (Json{{"redraw", true}, {"view", session_.view()}}));
    EXPECT_EQ(value(kZoom), 15.0);
    EXPECT_EQ(value(kCenterX), -0.222);
    EXPECT_EQ(shelf_.describe()["current"], Json::array({id})) << "the preset holds the values shown";
    session_.setValue(kZoom, 16.0);
    EXPECT_EQ(shelf_.describe()["current"], Json::array());

    EXPECT_EQ(shelf_.rename(id, "  Seahorse\t")["name"], "Seahorse");
    std::string longest;
    for (size_t i = 0; i < kMaxPresetName; ++i) longest += "\xC3\xA9";  // é, two bytes each
    EXPECT_EQ(shelf_.rename(id, longest)["name"], longest);
    for (const std::string &bad : {std::string(), std::string("  "), std::string("two\nlines"), longest + "e"}) {
        EXPECT_THROW(shelf_.rename(id, bad), BadRequest) << bad;
    }
    EXPECT_EQ(shelf_.describe()["presets"][0]["name"], longest);

    shelf_.remove(id);
    EXPECT_TRUE(shelf_.describe()["presets"].empty());
    EXPECT_THROW(shelf_.apply(id), BadRequest);
    shelf_.close();
    EXPECT_FALSE(shelf_.describe()["open"].get<bool>());
}

TEST_F(ShelfDrawer, PresetsOfOtherPlugInsAreNotOfferedAndOnesTheModuleRefusesAreAnsweredWithTheirText) {
    Preset other = presetFor("Other", {});
    other.server = "Elsewhere";
    const int64_t id = host_.shelf()->store().add(other);
    session_.pressButton(kOpenShelf);
    EXPECT_TRUE(shelf_.describe()["presets"].empty());
    EXPECT_THROW(shelf_.thumbnail(id), BadRequest);
    EXPECT_EQ(errorOf([&] { shelf_.apply(id); }, kExitBadInput), "there is no preset 1 for this panel");
    EXPECT_THROW(shelf_.rename(id, "Mine"), BadRequest);
    EXPECT_THROW(shelf_.remove(id), BadRequest);
    EXPECT_EQ(host_.shelf()->store().get(id)->name, "Other");

    const int64_t broken = host_.shelf()->store().add(presetFor("Broken", {{{"channel", "Zoom"}, {"value", "deep"}}}));
    const Json applied = shelf_.apply(broken);
    EXPECT_EQ(applied["redraw"], true);
    EXPECT_EQ(applied["error"].get<std::string>().rfind("the module refused the preset: channel 'Center.X'", 0), 0u)
        << applied;
}

}  // namespace
