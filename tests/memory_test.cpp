// A 4K render holds at most two float frames, however many frames it makes.
#include <gtest/gtest.h>

#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>

#include <filesystem>
#include <string>
#include <vector>

#include "qzhost/scene/scene.h"
#include "tests/view_blocks.h"

extern char **environ;

namespace {

namespace fs = std::filesystem;

// Peak resident memory, in bytes, of one qzhost run.
long peakBytesOf(std::vector<std::string> args) {
    std::vector<char *> argv;
    for (std::string &arg : args) argv.push_back(arg.data());
    argv.push_back(nullptr);
    pid_t pid;
    EXPECT_EQ(posix_spawn(&pid, QZHOST_FILE, nullptr, nullptr, argv.data(), environ), 0);
    int status = 0;
    rusage usage{};
    wait4(pid, &status, 0, &usage);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    return usage.ru_maxrss * 1024L;
}

}  // namespace

TEST(Memory, FourKRenderStaysWithinTwoFramesAndDoesNotGrow) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "sanitizers keep memory of their own";
#endif
    const fs::path folder = fs::temp_directory_path() / "vorlux-memory-test";
    fs::remove_all(folder);
    fs::create_directories(folder);
    // Far outside the set every pixel escapes at once: memory, not time, is
    // what this measures.
    const fs::path file = folder / "far.json";
    qzhost::writeSceneFile(file, {{3840, 2160, 1.0, 24.0, 0, 3},
                                  {{.module = VORLUX_MODULE_FILE, .state = qzhost::viewBlocks(5.0, 5.0, 1.0)}}});

    const long twoFrames = peakBytesOf({"qzhost", "render", file, "-q", "--frames", "0-1", "-o", folder / "two"});
    const long fourFrames = peakBytesOf({"qzhost", "render", file, "-q", "--frames", "0-3", "-o", folder / "four"});
    const long floatFrame = 3840L * 2160 * 4 * sizeof(float);
    EXPECT_LT(fourFrames, 2 * floatFrame + 50L * 1024 * 1024);
    EXPECT_LT(fourFrames - twoFrames, 16L * 1024 * 1024) << "two frames " << twoFrames << ", four " << fourFrames;
}
