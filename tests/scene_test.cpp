// Scene files: the round trip through live instances, errors with their
// places, and writes that never leave half a file.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "qzhost/base/error.h"
#include "qzhost/base/files.h"
#include "qzhost/scene/loaded_scene.h"
#include "qzhost/services/host.h"

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

std::string errorOf(const std::string &text) {
    try {
        Host host;
        LoadedScene scene(host, parseScene(text, "s.json"), "");
    } catch (const HostError &e) {
        EXPECT_EQ(e.exitCode(), kExitBadInput);
        return e.what();
    }
    return "no error";
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
    Host host;
    LoadedScene scene(host, parseScene(kScene, "s.json"), "");
    ASSERT_EQ(scene.size(), 2u);
    EXPECT_EQ(scene.filter(0).describe(), "Vorlux  (-0.5, 0)  1");
    EXPECT_EQ(scene.filter(1).describe(), "Vorlux  (-0.222, 0.8)  15");

    Json expected = Json::parse(kScene);
    // A filter saved without state gains the state of its new instance.
    expected["filters"][1]["state"] = Json::parse(
        R"([{"channel": "Center.X", "value": -0.222}, {"channel": "Center.Y", "value": 0.8},
            {"channel": "Zoom", "value": 15}])");
    EXPECT_EQ(sceneToJson(scene.snapshot()), expected);
}

TEST(SceneFiles, ErrorsNameFileLineAndColumn) {
    EXPECT_EQ(errorOf(replaced(kScene, "\"last\": 47}", "\"last\": 47,}")),
              "s.json:2:95: syntax error while parsing object key - unexpected '}'; expected string literal");
    EXPECT_EQ(errorOf(replaced(kScene, "\"fps\": 24", "\"fps\": \"24\"")),
              "s.json:2:61: frames.fps must be a number, not string \"24\"");
    EXPECT_EQ(errorOf(replaced(kScene, "\"width\": 640", "\"width\": 0")),
              "s.json:2:14: frames.width must be from 1 to 32768, not 0");
    EXPECT_EQ(errorOf(replaced(kScene, "\"first\": 0, \"last\": 47", "\"first\": 10, \"last\": 5")),
              "s.json:2:85: frames.last must be from 10 to 1000000, not 5");
    EXPECT_EQ(errorOf(replaced(kScene, "\"server\": \"Vorlux\"}", "\"servers\": \"Vorlux\"}")),
              "s.json:9:28: unknown field 'servers' in a filter");
    EXPECT_EQ(errorOf(replaced(kScene, "\"module\": \"vorlux.p\", \"server\": \"Vorlux\"}", "\"module\": \"vorlux.p\"}")),
              "s.json:9:5: missing field 'server'");
    EXPECT_EQ(errorOf(replaced(kScene, "\"value\": 0.0", "\"value\": null")),
              "s.json:6:7: filter 1 (Vorlux) refused its state: channel 'Center.Y': value must be a number, not null");
    EXPECT_EQ(errorOf(replaced(kScene, "\"server\": \"Vorlux\", \"state\"", "\"server\": \"Vortex\", \"state\"")),
              "s.json:4:5: module '" + fs::weakly_canonical(VORLUX_MODULE_FILE).string() +
                  "' has no PixelFilterHandler server named 'Vortex'");
    EXPECT_EQ(errorOf(replaced(kScene, "\"module\": \"vorlux.p\", \"server\": \"Vorlux\", ", "\"module\": \"gone.p\", \"server\": \"Vorlux\", ")).substr(0, 40),
              "s.json:4:5: module 'gone.p' not found in");
}

// The aspect divides the vertical step, so anything but a positive finite
// number would make every frame of the scene wrong.
TEST(SceneFiles, PixelAspectMustBeAPositiveNumber) {
    const auto aspect = [](const std::string &value) {
        return errorOf(replaced(kScene, "\"pixelAspect\": 1", "\"pixelAspect\": " + value));
    };
    EXPECT_EQ(aspect("0"), "s.json:2:43: frames.pixelAspect must be above 0, not 0");
    EXPECT_EQ(aspect("-1.5"), "s.json:2:43: frames.pixelAspect must be above 0, not -1.5");
    EXPECT_EQ(aspect("\"2\""), "s.json:2:43: frames.pixelAspect must be a number, not string \"2\"");
    EXPECT_NE(aspect("1e400").find("number overflow parsing '1e400'"), std::string::npos) << "not infinity";
    EXPECT_EQ(aspect("0.5"), "no error");
}

TEST(SceneFiles, ModulesAreFoundBesideTheSceneFirst) {
    const fs::path folder = freshFolder("vorlux-scene-modules");
    fs::copy_file(VORLUX_MODULE_FILE, folder / "local.p");
    std::string text = replaced(kScene, "\"module\": \"vorlux.p\"", "\"module\": \"local.p\"");
    writeFileAtomically(folder / "scene.json", text);
    Host host;
    EXPECT_NO_THROW(LoadedScene(host, readSceneFile(folder / "scene.json"), folder / "scene.json"));
}

TEST(SceneFiles, FailedWriteLeavesTheOldFileWhole) {
    const fs::path folder = freshFolder("vorlux-scene-write");
    writeFileAtomically(folder / "scene.json", "old");
    // A folder where the file should go makes the final rename fail.
    fs::create_directories(folder / "taken.json" / "inside");
    EXPECT_THROW(writeFileAtomically(folder / "taken.json", "new"), HostError);
    EXPECT_THROW(writeFileAtomically(folder / "missing" / "scene.json", "new"), HostError);
    std::ifstream in(folder / "scene.json");
    std::string content((std::istreambuf_iterator<char>(in)), {});
    EXPECT_EQ(content, "old");
    EXPECT_EQ(std::distance(fs::directory_iterator(folder), {}), 2) << "no temporary file is left behind";
}
