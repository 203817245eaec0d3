// Scene files: the round trip through live instances, errors with their
// places, and writes that never leave half a file.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <tuple>

#include "qzhost/base/error.h"
#include "qzhost/base/files.h"
#include "qzhost/base/size.h"
#include "qzhost/scene/default_scene.h"
#include "qzhost/scene/loaded_scene.h"
#include "qzhost/services/host.h"
#include "tests/host_errors.h"

using namespace qzhost;
namespace fs = std::filesystem;

namespace {

const char *const kScene = R"({
  "frames": {"width": 640, "height": 480, "pixelAspect": 1, "fps": 24, "first": 0, "last": 47},
  "filters": [
    {"module": "vorlux.p", "server": "Vorlux", "state": [
      {"channel": "Center.X", "value": -0.5},
      {"channel": "Center.Y", "value": 0.0},
      {"channel": "Zoom", "keys": [{"time": 0, "value": 1, "curve": "exponential"}, {"time": 2, "value": 100}]}
    ]},
    {"module": "vorlux.p", "server": "Vorlux"}
  ]
})";

std::string loadErrorOf(const std::string &text) {
    Host host;
    return errorOf([&] { LoadedScene scene(host, parseScene(text, "s.json"), ""); }, kExitBadInput);
}

std::string replaced(std::string text, const std::string &from, const std::string &to) {
    return text.replace(text.find(from), from.size(), to);
}

fs::path freshFolder(const char *name) {
    const fs::path folder = fs::temp_directory_path() / name;
    fs::remove_all(folder);
    fs::create_directories(folder);
    return folder;
}

}  // namespace

TEST(SceneFiles, LoadThenSaveGivesTheSameDocument) {
    // Pixels that are not square, so that a save that loses the frame's shape shows.
    const std::string text = replaced(kScene, "\"pixelAspect\": 1", "\"pixelAspect\": 0.75");
    Host host;
    LoadedScene scene(host, parseScene(text, "s.json"), "");
    ASSERT_EQ(scene.size(), 2u);
    EXPECT_EQ(scene.filter(0).describe(), "Vorlux  (-0.5, 0)  1");
    EXPECT_EQ(scene.filter(1).describe(), "Vorlux  (-0.222, 0.8)  15");

    Json expected = Json::parse(text);
    // A filter saved without state gains the state of its new instance.
    expected["filters"][1]["state"] = Json::parse(
        R"([{"channel": "Center.X", "value": -0.222}, {"channel": "Center.Y", "value": 0.8},
            {"channel": "Zoom", "value": 15}])");
    EXPECT_EQ(sceneToJson(scene.snapshot()), expected);
}

// Five seconds at 24 frames per second in 1280x720, from the filter's default
// view, zooming at a constant speed.
TEST(SceneFiles, TheBuiltInSceneStartsAtTheDefaultViewAndZoomsAtConstantSpeed) {
    SceneDocument document = defaultScene(VORLUX_MODULE_FILE);
    const FrameSettings &f = document.frames;
    EXPECT_EQ(std::tuple(f.width, f.height, f.pixelAspect, f.fps, f.timeOf(f.last + 1)), std::tuple(1280, 720, 1.0, 24.0, 5.0));
    const Animation zoom = fromBlock(document.filters[0].state->at(2), "Zoom");
    EXPECT_NEAR(zoom.valueAt(2.0) / zoom.valueAt(1.0), zoom.valueAt(4.0) / zoom.valueAt(3.0), 1e-9);
    EXPECT_EQ(zoom.valueAt(f.timeOf(f.last)), zoom.keys().back().value) << "the last frame reaches the deepest zoom";

    document.filters.emplace_back().module = VORLUX_MODULE_FILE;  // stateless: the default view
    Host host;
    LoadedScene scene(host, document, "");
    EXPECT_EQ(scene.filter(0).describe(), scene.filter(1).describe());
}

// Among them the pixel aspect: it divides the vertical step, so anything but
// a positive finite number would make every frame of the scene wrong.
TEST(SceneFiles, ErrorsNameFileLineAndColumn) {
    const std::string module = fs::weakly_canonical(VORLUX_MODULE_FILE).string();
    const std::tuple<std::string, std::string, std::string> cases[] = {
        {"\"last\": 47}", "\"last\": 47,}",
         "s.json:2:95: syntax error while parsing object key - unexpected '}'; expected string literal"},
        {"\"fps\": 24", "\"fps\": \"24\"", "s.json:2:61: frames.fps must be a number, not string \"24\""},
        {"\"width\": 640", "\"width\": 0", "s.json:2:14: frames.width must be from 1 to 32768, not 0"},
        {"\"first\": 0, \"last\": 47", "\"first\": 10, \"last\": 5", "s.json:2:85: frames.last must be from 10 to 1000000, not 5"},
        {"\"pixelAspect\": 1", "\"pixelAspect\": 0", "s.json:2:43: frames.pixelAspect must be above 0, not 0"},
        {"\"pixelAspect\": 1", "\"pixelAspect\": -1.5", "s.json:2:43: frames.pixelAspect must be above 0, not -1.5"},
        {"\"pixelAspect\": 1", "\"pixelAspect\": \"2\"", "s.json:2:43: frames.pixelAspect must be a number, not string \"2\""},
        {"\"pixelAspect\": 1", "\"pixelAspect\": 1e400", "s.json:2:62: [json.exception.out_of_range.406] number overflow parsing '1e400'"},
        {"\"pixelAspect\": 1", "\"pixelAspect\": 0.5", "no error"},
        {"\"server\": \"Vorlux\"}", "\"servers\": \"Vorlux\"}", "s.json:9:28: unknown field 'servers' in a filter"},
        {"\"module\": \"vorlux.p\", \"server\": \"Vorlux\"}", "\"module\": \"vorlux.p\"}", "s.json:9:5: missing field 'server'"},
        {"\"server\": \"Vorlux\"}", "\"server\": \"Vorlux\", \"state\": {}}", "s.json:9:48: state must be an array of parameter blocks"},
        {"\"value\": 0.0", "\"value\": null",
         "s.json:6:7: filter 1 (Vorlux) refused its state: channel 'Center.Y': value must be a number, not null"},
        {"0.0},\n      {\"channel\": \"Zoom\", \"keys\": [{\"time\": 0, \"value\": 1, \"curve\": \"exponential\"}, "
         "{\"time\": 2, \"value\": 100}]}",
         "0.0}", "s.json:4:5: filter 1 (Vorlux) refused its state: channel 'Zoom': no parameter block left to load"},
        {"\"server\": \"Vorlux\", \"state\"", "\"server\": \"Vortex\", \"state\"",
         "s.json:4:5: module '" + module + "' has no PixelFilterHandler server named 'Vortex'"},
        {"\"server\": \"Vorlux\"}", "\"server\": \"Vortex\"}",
         "s.json:9:5: module '" + module + "' has no PixelFilterHandler server named 'Vortex'"},
        // A value nested a million levels deep: building, copying or writing it recurses once per level. It
        // starts at column 40, five levels down: its 60th bracket is the 65th level.
        {"\"value\": 0.0", "\"value\": " + std::string(1'000'000, '[') + std::string(1'000'000, ']'),
         "s.json:6:99: values nest deeper than 64 levels"},
    };
    // Each expected message names its row.
    for (const auto &[from, to, message] : cases) EXPECT_EQ(loadErrorOf(replaced(kScene, from, to)), message);
    const std::string frames(kScene, std::string_view(kScene).find("\"filters\""));
    EXPECT_EQ(loadErrorOf(frames + "\"filters\": {}}"), "s.json:3:3: filters must be an array");
    EXPECT_EQ(loadErrorOf(replaced(kScene, "vorlux.p", "gone.p")).substr(0, 40), "s.json:4:5: module 'gone.p' not found in");
}

TEST(SceneFiles, AFrameHasAtMost16384By16384Pixels) {
    EXPECT_EQ(errorOf([] { checkFramePixels({16384, 16384}, "frame"); }), "no error");
    EXPECT_EQ(errorOf([] { checkFramePixels({65536, 65537}, "frame"); }, kExitBadInput),
              "frame 65536x65537 has 4295032832 pixels; a frame may have at most 268435456 (16384x16384), whose two "
              "frame buffers take 8 GiB");
}

TEST(SceneFiles, ModulesLoadOnlyFromTrustedFolders) {
    const fs::path folder = freshFolder("vorlux-scene-modules");
    fs::copy_file(VORLUX_MODULE_FILE, folder / "local.p");
    const auto load = [&](const std::string &module, const std::vector<fs::path> &trusted) {
        writeFileAtomically(folder / "scene.json", replaced(kScene, "vorlux.p", module));
        Host host;
        LoadedScene scene(host, readSceneFile(folder / "scene.json"), folder / "scene.json", moduleSearchPath(trusted));
    };
    // Beside the scene is not trusted, by name or by path.
    EXPECT_THROW(load("local.p", {}), HostError);
    const std::string outside = errorOf([&] { load("../vorlux-scene-modules/local.p", {}); });
    EXPECT_NE(outside.find("to allow it, run with --modules '" + folder.string() + "'"), std::string::npos) << outside;
    EXPECT_NO_THROW(load("local.p", {folder}));
    EXPECT_NO_THROW(load(folder.string() + "/local.p", {folder}));

    // Two modules that both offer a server named Vorlux each serve their own filters.
    SceneDocument two = parseScene(kScene, "s.json");
    two.filters[1].module = "local.p";
    Host host;
    LoadedScene scene(host, two, folder / "scene.json", moduleSearchPath({fs::path(VORLUX_MODULE_FILE).parent_path(), folder}));
    EXPECT_EQ(scene.filter(1).server().module().file(), fs::weakly_canonical(folder / "local.p"));

    // An empty XDG_DATA_HOME counts as unset.
    setenv("XDG_DATA_HOME", "", 1);
    EXPECT_EQ(userModulesFolder(), fs::path(std::getenv("HOME")) / ".local/share/qzhost/modules");
    setenv("XDG_DATA_HOME", "/data", 1);
    EXPECT_EQ(userModulesFolder(), "/data/qzhost/modules");
    setenv("QZHOST_MODULE_PATH", ("::" + folder.string() + ":/elsewhere").c_str(), 1);
    const std::vector<fs::path> path = moduleSearchPath({"/named"});
    unsetenv("QZHOST_MODULE_PATH");
    EXPECT_EQ(path, (std::vector<fs::path>{"/named", folder, "/elsewhere", userModulesFolder(), modulesFolder()}));
}

TEST(SceneFiles, AFailedWriteLeavesTheOldFileWholeAndWritingThroughLinksWritesTheLinkedFileAndKeepsItsMode) {
    const fs::path folder = freshFolder("vorlux-scene-write");
    const fs::path file = folder / "scene.json";
    writeFileAtomically(file, "old");
    // A folder where the file should go makes the final rename fail.
    fs::create_directories(folder / "taken.json" / "inside");
    EXPECT_THROW(writeFileAtomically(folder / "taken.json", "new"), HostError);
    EXPECT_THROW(writeFileAtomically(folder / "missing" / "scene.json", "new"), HostError);
    SceneDocument unloadable = parseScene(kScene, "s.json");
    unloadable.filters[0].state->at(0)["value"] = std::nan("");  // written as null
    EXPECT_EQ(errorOf([&] { writeSceneFile(file, unloadable); }, kExitFailed),
              "scene '" + file.string() + "' not saved, as it would not load: " + file.string() +
                  ":15:9: channel 'Center.X': value must be a number, not null");
    EXPECT_EQ(contentOf(file), "old");
    EXPECT_EQ(filesIn(folder), 2) << "no temporary file is left behind";

    writeFileAtomically(folder / "real.json", "old");
    fs::permissions(folder / "real.json", fs::perms::owner_read | fs::perms::owner_write);
    const std::pair<fs::path, const char *> links[] = {{"real.json", "link.json"}, {folder / "link.json", "link-to-link.json"},
                                                       {"new.json", "dangling.json"}, {"loop-b", "loop-a"}, {"loop-a", "loop-b"}};
    for (const auto &[target, link] : links) fs::create_symlink(target, folder / link);

    writeFileAtomically(folder / "link-to-link.json", "new");
    writeFileAtomically(folder / "dangling.json", "made");
    EXPECT_THROW(writeFileAtomically(folder / "loop-a", "lost"), HostError);

    for (const auto &[target, link] : links) EXPECT_TRUE(fs::is_symlink(folder / link)) << link << " was replaced";
    EXPECT_EQ(contentOf(folder / "real.json"), "new");
    EXPECT_EQ(fs::status(folder / "real.json").permissions(), fs::perms::owner_read | fs::perms::owner_write);
    EXPECT_EQ(contentOf(folder / "new.json"), "made");
    EXPECT_EQ(fs::status(folder / "new.json").permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read | fs::perms::others_read);

    // One still being written is not taken for one that a killed run left.
    PendingFile writing(file);
    EXPECT_FALSE(removeAbandonedPendingFile(writing.temporaryPath()));
    EXPECT_TRUE(fs::exists(writing.temporaryPath()));
}
