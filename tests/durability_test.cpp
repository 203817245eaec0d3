// Saves as their callers make them: synced under a temporary name, then
// renamed over the old file, so that a failure at any point leaves the old
// file as it was. This program replaces fsync and rename for everything it
// links, to watch them and to make fsync fail as a full or failing disk does.
#include <gtest/gtest.h>

#include <dlfcn.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>
#include <algorithm>

#include "qzhost/base/error.h"
#include "qzhost/base/files.h"
#include "qzhost/image/image_files.h"
#include "qzhost/scene/default_scene.h"
#include "qzhost/scene/loaded_scene.h"
#include "tests/host_errors.h"
#include "tests/session_helpers.h"

namespace fs = std::filesystem;
using namespace qzhost;

namespace {

// What the replaced calls saw, in order: "fsync PATH" and "rename FROM TO".
std::vector<std::string> fileCalls;
bool fsyncFails = false;

std::string pathOf(int fd) {
    std::error_code error;
    const fs::path target = fs::read_symlink("/proc/self/fd/" + std::to_string(fd), error);
    return error ? "?" : target.string();
}

}  // namespace

extern "C" int fsync(int fd) {
    fileCalls.push_back("fsync " + pathOf(fd));
    if (fsyncFails) {
        errno = EIO;
        return -1;
    }
    static const auto real = reinterpret_cast<int (*)(int)>(dlsym(RTLD_NEXT, "fsync"));
    return real(fd);
}

extern "C" int rename(const char *from, const char *to) noexcept {
    fileCalls.push_back(std::string("rename ") + from + " " + to);
    static const auto real = reinterpret_cast<int (*)(const char *, const char *)>(dlsym(RTLD_NEXT, "rename"));
    return real(from, to);
}

TEST(Saves, EachCallerSyncsTheNewFileBeforeRenamingItIntoPlaceSoAFailedSyncLeavesTheOldFileByteForByte) {
    const fs::path folder = fs::path(::testing::TempDir()) / "vorlux-durability";
    fs::remove_all(folder);
    fs::create_directories(folder);
    const std::string old{"old bytes\n\0\xff kept", 17};
    Host host;
    const Frame frame{2, 2, std::vector<float>(16, 0.5f)};
    // Each way the host writes a file the user keeps, writing `file`.
    const std::pair<std::string, std::function<void(const fs::path &)>> callers[] = {
        {"scene file", [](const fs::path &file) { writeSceneFile(file, defaultScene()); }},
        {"panel save", [&](const fs::path &file) {
             LoadedScene scene(host, oneVorluxFilter(), {});
             PanelSession(scene, file, {16, 12}).save();
         }},
        {"png frame", [&](const fs::path &file) { writeImage(frame, file, ImageFormat::Png8); }},
        {"exr frame", [&](const fs::path &file) { writeImage(frame, file, ImageFormat::Exr); }},
    };
    for (const auto &[caller, save] : callers) {
        SCOPED_TRACE(caller);
        // The file with its old bytes, the only entry of the folder.
        const fs::path file = folder / "kept";
        std::ofstream(file, std::ios::binary) << old;
        fsyncFails = true;
        const std::string error = errorOf([&] { save(file); });
        EXPECT_NE(error.find("cannot write '" + file.string() + "'"), std::string::npos) << error;
        fsyncFails = false;
        EXPECT_EQ(contentOf(file), old);
        EXPECT_EQ(filesIn(folder), 1) << "the temporary file is left";

        fileCalls.clear();
        save(file);
        EXPECT_NE(contentOf(file), old);
        // The last rename is the one into place; a sync of its source comes first.
        const auto renamed = std::find_if(fileCalls.rbegin(), fileCalls.rend(),
                                          [](const std::string &call) { return call.starts_with("rename "); });
        ASSERT_NE(renamed, fileCalls.rend()) << "written in place";
        const std::string from = renamed->substr(7, renamed->find(' ', 7) - 7);
        EXPECT_EQ(renamed->substr(8 + from.size()), file.string());
        EXPECT_EQ(pendingFileTarget(from), file) << "written through " << from << ", which a reader takes for a finished file";
        EXPECT_NE(std::find(fileCalls.begin(), fileCalls.end(), "fsync " + from), fileCalls.end()) << from << " unsynced";
        EXPECT_EQ(filesIn(folder), 1);
    }
}
