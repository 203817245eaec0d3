// The preset shelf: its database, the portable preset file, and the shelf
// service as a plug-in sees it.
#include <gtest/gtest.h>

#include <png.h>
#include <signal.h>
#include <sqlite3.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <regex>

#include "qzhost/base/error.h"
#include "qzhost/base/files.h"
#include "qzhost/image/png.h"
#include "qzhost/services/host.h"
#include "qzhost/presets/preset_file.h"
#include "tests/host_errors.h"
#include "tests/session_helpers.h"

using namespace qzhost;
namespace fs = std::filesystem;

namespace {

Preset samplePreset(const std::string &name = "") {
    const std::vector<unsigned char> rgb(4 * 2 * 3, 200);
    return Preset{0, "PixelFilterHandler", "Vorlux", name, "", {Json{{"channel", "Zoom"}, {"value", 3.0}}},
                  encodeRgb8(4, 2, rgb)};
}

// A two-pixel PNG in one of the forms image editors save, not the one qzhost writes.
std::vector<unsigned char> pngOf(png_uint_32 format, const void *pixels) {
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    image.width = 2;
    image.height = 1;
    image.format = format;
    png_alloc_size_t size = 0;
    png_image_write_to_memory(&image, nullptr, &size, 0, pixels, 0, nullptr);
    std::vector<unsigned char> bytes(size);
    EXPECT_NE(png_image_write_to_memory(&image, bytes.data(), &size, 0, pixels, 0, nullptr), 0);
    return bytes;
}

int loads = 0;
void countLoad(void *, const LoadState *state) { loads += static_cast<int>(state->blocks->size()); }
const char *saveOneBlock(void *, const SaveState *state) {
    const_cast<SaveState *>(state)->blocks.push_back(Json{{"channel", "Zoom"}, {"value", 7.0}});
    return nullptr;
}
const char *refuseSave(void *, const SaveState *) { return "a parameter is missing"; }
int answer(void *, void *) { return 1; }

}  // namespace

TEST(PresetStore, PresetsSurviveARestart) {
    const fs::path file = freshShelf();
    {
        PresetStore store(file);
        EXPECT_EQ(store.add(samplePreset()), 1);
        EXPECT_EQ(store.add(samplePreset("Spiral")), 2);
        EXPECT_TRUE(store.rename(1, "Walrus"));
        EXPECT_FALSE(store.rename(7, "Nothing"));
    }
    PresetStore reopened(file);
    const std::vector<Preset> presets = reopened.list();
    ASSERT_EQ(presets.size(), 2u);
    EXPECT_EQ(presets[0].name, "Walrus") << "listed by id, not by name";
    EXPECT_TRUE(std::regex_match(presets[0].created, std::regex(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\dZ)")))
        << presets[0].created;
    EXPECT_EQ(std::tie(presets[1].name, presets[1].settings, presets[1].thumbnail),
              std::tuple(std::string("Spiral"), samplePreset().settings, samplePreset().thumbnail));
    EXPECT_TRUE(reopened.remove(1));
    EXPECT_FALSE(reopened.remove(1));
    EXPECT_FALSE(reopened.get(1).has_value());
}

// Names reach terminals and the page: the store takes them through one rule,
// and shows what another program stored there without harm.
TEST(PresetStore, NamesAreTextAndStrangeStoredBytesAreShownReplaced) {
    const fs::path file = freshShelf();
    PresetStore store(file);
    const std::string longest(100, 'n');
    const std::string bad[] = {"\x1B]0;owned\x07", "caf\xE9", "\xC2\x9B" "2J", "\x7F", "\xC2\x9F", "\xED\xA0\x80", "\xC0\xAF",
                               longest + "n"};
    for (const std::string &name : bad) EXPECT_THROW(store.add(samplePreset(name)), BadRequest) << name;
    EXPECT_TRUE(store.list().empty());
    EXPECT_EQ(store.get(store.add(samplePreset(longest)))->name, longest);
    const int64_t id = store.add(samplePreset(" Caf\xC3\xA9 "));
    EXPECT_EQ(store.get(id)->name, "Caf\xC3\xA9");
    EXPECT_TRUE(store.rename(id, "\xC2\xA0"));
    EXPECT_EQ(store.get(id)->name, "\xC2\xA0") << "the first character after the control characters";
    store.rename(id, "Caf\xC3\xA9");
    for (const char *bad : {"a\nb", "\x1B[2J"}) EXPECT_THROW(store.rename(id, bad), BadRequest) << bad;
    EXPECT_EQ(store.get(id)->name, "Caf\xC3\xA9");

    ASSERT_EQ(OtherProgram(file).run("UPDATE presets SET name = CAST(X'1B5B324A6361FE' AS TEXT)"), SQLITE_OK);
    const Preset shown = *store.get(id);
    EXPECT_EQ(shown.name, "\uFFFD[2Jca\uFFFD");
    EXPECT_EQ(presetFromFile(presetFileOf(shown), "p").name, shown.name);

    EXPECT_EQ(errorOf([] { presetFromFile(presetFileOf(samplePreset("\x1B[2J")), "p"); }),
              "p: a preset name may not hold control characters (line breaks, tabs, escapes)");
}

// A file that is not a database at all is tried by the command-line test, as a panel's shelf.
TEST(PresetStore, UnusableOrHeldDatabasesAreReportedNotUsedAndNothingClaimsSuccess) {
    const fs::path file = freshShelf();
    const std::string database = "shelf database '" + file.string() + "'";
    OtherProgram other(file);
    // Held while another program is still creating it: qzhost cannot set it up.
    other.run("BEGIN IMMEDIATE");
    EXPECT_EQ(errorOf([&] { PresetStore store(file); }), database + ": cannot be set up: it is locked by another program");
    other.run("ROLLBACK");
    { PresetStore create(file); }
    other.run("PRAGMA user_version = 9");
    EXPECT_EQ(errorOf([&] { PresetStore store(file); }), database + " was made by a newer qzhost (schema 9)");

    // Another program holding the database makes writes and reads fail, not
    // hang, and the drawer does not show an empty shelf for a locked one.
    other.run("PRAGMA user_version = 1");
    PresetStore store(file);
    other.run("BEGIN EXCLUSIVE");
    EXPECT_EQ(errorOf([&] { store.add(samplePreset()); }),
              database + ": cannot add a preset: it is locked by another program");
    EXPECT_EQ(errorOf([&] { store.list(); }), database + ": cannot list presets: it is locked by another program");
    other.run("ROLLBACK");
    EXPECT_EQ(store.add(samplePreset()), 1);

    const fs::path presetFile = file.parent_path() / "held-preset.png";
    writeFileAtomically(presetFile, presetFileOf(samplePreset("Spiral")));
    const fs::path out = file.parent_path() / "held-import.out", err = file.parent_path() / "held-import.err";
    other.run("BEGIN IMMEDIATE");
    const std::string import = std::string(QZHOST_FILE) + " presets import --shelf '" + file.string() + "' '" +
                               presetFile.string() + "' >'" + out.string() + "' 2>'" + err.string() + "'";
    const int status = std::system(import.c_str());
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 2) << status;
    EXPECT_EQ(contentOf(out), "") << "no line claims the import";
    EXPECT_NE(contentOf(err).find("cannot add a preset: it is locked by another program"), std::string::npos)
        << contentOf(err);
}

// An unnamed preset is stored, then named after its id. A trigger that
// refuses the naming stands for anything failing between the two steps.
TEST(PresetStore, AnAddThatFailsHalfwayLeavesNoPresetBehindAndKillingAWriterLosesNothingStoredBeforeIt) {
    const fs::path file = freshShelf();
    PresetStore store(file);
    EXPECT_EQ(store.add(samplePreset("Before")), 1);
    OtherProgram other(file);
    ASSERT_EQ(other.run("CREATE TRIGGER refuse_names BEFORE UPDATE OF name ON presets "
                        "BEGIN SELECT RAISE(ABORT, 'naming refused'); END"),
              SQLITE_OK);
    EXPECT_NE(errorOf([&] { store.add(samplePreset()); }).find("cannot add a preset: naming refused"),
              std::string::npos);
    other.run("DROP TRIGGER refuse_names");

    ASSERT_EQ(store.list().size(), 1u) << "the refused preset is not half there";
    EXPECT_EQ(store.add(samplePreset()), 2) << "the store takes the next add";
    EXPECT_EQ(store.get(2)->name, "Preset 2");

    int reported[2];
    ASSERT_EQ(pipe(reported), 0);
    const pid_t writer = fork();
    if (writer == 0) {
        PresetStore writing(file);
        for (;;) {
            const int64_t id = writing.add(samplePreset());
            if (write(reported[1], &id, sizeof id) != sizeof id) _exit(1);
        }
    }
    close(reported[1]);
    int64_t lastStored = 0;
    for (int i = 0; i < 40; ++i) ASSERT_EQ(read(reported[0], &lastStored, sizeof lastStored), sizeof lastStored);
    kill(writer, SIGKILL);
    waitpid(writer, nullptr, 0);
    close(reported[0]);

    ASSERT_GE(store.list().size(), static_cast<size_t>(lastStored));
    for (int64_t id = 1; id <= lastStored; ++id) EXPECT_EQ(store.get(id).value().thumbnail, samplePreset().thumbnail) << id;
}

TEST(PresetFile, RoundTripAndMalformedFilesAreRefused) {
    Preset original = samplePreset("Spiral");
    original.created = "2026-12-08T15:00:00Z";
    const std::vector<unsigned char> file = presetFileOf(original);
    const Preset back = presetFromFile(file, "spiral.png");
    EXPECT_EQ(std::tie(back.name, back.created, back.settings),
              std::tie(original.name, original.created, original.settings));
    EXPECT_EQ(decodePng(back.thumbnail).rgb, decodePng(original.thumbnail).rgb);

    // A thumbnail of the given size that carries the given preset document.
    const auto carrying = [](const std::string &json, int width = 4, int height = 2) {
        const std::vector<unsigned char> black(static_cast<size_t>(width) * height * 3);
        return encodeRgb8(width, height, black, {{"qzhost-preset", json}});
    };
    const std::string document = decodePng(file).text.at("qzhost-preset");
    const std::string fields = R"({"format": "qzhost-preset", "version": 1, "class": "A", "name": "n", "created": "", )";
    // The document, its settings and a block are three levels; a value nests more below them.
    const auto nested = [&](size_t levels) {
        return carrying(fields + R"("server": "B", "settings": [{"deep": )" + std::string(levels, '[') +
                        std::string(levels, ']') + "}]}");
    };
    // A chunk that claims two gigabytes must be refused, not allocated.
    std::vector<unsigned char> boastful = file;
    const auto text = std::search(boastful.begin(), boastful.end(), std::begin("iTXt"), std::end("iTXt") - 1);
    std::fill(text - 4, text, 0x7F);
    const std::pair<std::vector<unsigned char>, std::string> broken[] = {
        {boastful, "p: the PNG data is damaged or too large"},
        {{'G', 'I', 'F', '8', '9', 'a', 0, 0, 0}, "p: not a PNG image"},
        {std::vector<unsigned char>(file.begin(), file.begin() + file.size() / 2), "p: the PNG data is damaged or too large"},
        {original.thumbnail, "p: the image carries no preset"},
        {carrying("{\"format\": "), "p: the preset's settings are not valid JSON"},
        {carrying(R"({"format": "qzhost-preset", "version": 2})"), "p: not a preset of version 1"},
        {carrying(fields + R"("server": "B", "settings": [3]})"), "p: a block of the preset's settings is not an object"},
        {carrying(fields + R"("server": "", "settings": []})"), "p: the preset names no plug-in"},
        // A few kilobytes of compressed text that nest a million levels, and the 65th level.
        {nested(1'000'000), "p: the preset's settings nest deeper than 64 levels"},
        {nested(62), "p: the preset's settings nest deeper than 64 levels"},
        {carrying(document, 1025, 4), "p: the thumbnail is larger than 1024 pixels"},
        {carrying(document, 4, 1025), "p: the thumbnail is larger than 1024 pixels"},
    };
    for (const auto &[bytes, message] : broken) EXPECT_EQ(errorOf([&] { presetFromFile(bytes, "p"); }), message);
    EXPECT_EQ(errorOf([&] { presetFromFile(nested(61), "p"); }), "no error") << "64 levels are read";
}

// Thumbnails come back as 8-bit RGB whatever form a preset file was saved in:
// alpha dropped, grey spread to the three channels, 16-bit samples cut to 8.
TEST(PresetFile, ThumbnailsOfEveryPngFormAreReadAsRgb) {
    const unsigned char rgba[] = {255, 0, 0, 255, 0, 255, 0, 128};
    const unsigned char greyAlpha[] = {200, 255, 100, 0};
    const uint16_t rgb16[] = {0xFFFF, 0, 0x8000, 0, 0x4000, 0xFFFF};
    const std::vector<unsigned char> expected[] = {{255, 0, 0, 0, 255, 0}, {200, 200, 200, 100, 100, 100},
                                                   {255, 0, 128, 0, 64, 255}};
    const std::vector<unsigned char> files[] = {pngOf(PNG_FORMAT_RGBA, rgba), pngOf(PNG_FORMAT_GA, greyAlpha),
                                                pngOf(PNG_FORMAT_LINEAR_RGB, rgb16)};
    for (size_t i = 0; i < std::size(files); ++i) EXPECT_EQ(decodePng(files[i]).rgb, expected[i]) << i;
}

TEST(ShelfService, AddStoresWhatTheSaveCallbackWritesAndApplyLoadsIt) {
    HostWithShelf host(freshShelf());
    const auto *shelf = static_cast<const ShelfService *>(host.registry().find(HOST_SHELF));
    const auto *images = static_cast<const ImageService *>(host.registry().find(HOST_IMAGE));
    void *client = shelf->subscribe("PixelFilterHandler", "Vorlux", nullptr, HOST_SHELF_SUBSCRIBE_FLAGS, answer, countLoad, saveOneBlock);
    EXPECT_EQ(shelf->isOpen(client), 0);
    shelf->open(client);
    EXPECT_EQ(shelf->isOpen(client), 1);

    EXPECT_EQ(images->create(ImageStore::kMaxSide + 1, 1, HOST_IMAGE_TYPE_RGB_FLOAT), nullptr);
    EXPECT_EQ(images->create(1, ImageStore::kMaxSide + 1, HOST_IMAGE_TYPE_RGB_FLOAT), nullptr);
    void *image = images->create(2, 2, HOST_IMAGE_TYPE_RGB_FLOAT);
    const float red[3] = {1, 0, 0};
    images->setPixel(image, 1, 1, red);
    for (auto [x, y] : {std::pair{2, 0}, {0, 2}, {-1, 1}, {1, -1}}) images->setPixel(image, x, y, red);  // ignored
    shelf->addPreset(client, image, nullptr);
    // A client whose save fails adds nothing, and the shelf keeps its reason.
    void *refusing = shelf->subscribe("PixelFilterHandler", "Vorlux", nullptr, HOST_SHELF_SUBSCRIBE_FLAGS, answer,
                                      countLoad, refuseSave);
    shelf->addPreset(refusing, image, nullptr);
    EXPECT_STREQ(host.shelf()->lastAddFailure().value().what(), "the preset was not added: a parameter is missing");
    shelf->unsubscribe(refusing);
    images->destroy(image);

    const std::vector<Preset> presets = host.shelf()->presetsFor(*host.shelf()->clients().front());
    ASSERT_EQ(presets.size(), 1u);
    EXPECT_EQ(presets[0].name, "Preset 1");
    EXPECT_EQ(presets[0].settings, (std::vector<Json>{{{"channel", "Zoom"}, {"value", 7.0}}}));
    EXPECT_EQ(decodePng(presets[0].thumbnail).rgb, (std::vector<unsigned char>{0, 0, 0, 0, 0, 0, 0, 0, 0, 255, 0, 0}));

    host.shelf()->apply(presets[0].id, *host.shelf()->clients().front());
    EXPECT_EQ(loads, 2) << "once to check the preset, once to load it";
    shelf->unsubscribe(client);
    EXPECT_TRUE(host.shelf()->clients().empty());
    EXPECT_EQ(shelf->isOpen(client), 0) << "a released client is unknown";
}
