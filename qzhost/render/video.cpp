#include "qzhost/render/video.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <fstream>
#include <sstream>
#include <string>

#include "qzhost/base/error.h"
#include "qzhost/base/files.h"
#include "qzhost/base/json.h"
#include "qzhost/image/frame.h"

extern char **environ;

namespace qzhost {
namespace {

std::string lastLineOf(const std::filesystem::path &file) {
    std::ifstream in(file);
    std::string line, last;
    while (std::getline(in, line)) {
        if (!line.empty()) last = line;
    }
    return last;
}

// The child's wait status, waiting through signals.
int waitForExit(pid_t pid) {
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return status;
}

// Numbers as the scene file writes them.
std::string decimal(double number) { return Json(number).dump(); }

}  // namespace

bool ffmpegAvailable() {
    const char *path = std::getenv("PATH");
    std::istringstream folders(path ? path : "/usr/bin:/bin");
    for (std::string folder; std::getline(folders, folder, ':');) {
        if (!folder.empty() && access((std::filesystem::path(folder) / "ffmpeg").c_str(), X_OK) == 0) return true;
    }
    return false;
}

void checkVideo(const std::filesystem::path &file, int width, int height, double fps) {
    const std::string video = "--video '" + file.string() + "'";
    const std::filesystem::path folder = file.parent_path().empty() ? "." : file.parent_path();
    std::error_code error;
    if (std::filesystem::is_directory(file, error)) {
        throw HostError(video + " is a folder; name a file in it, e.g. " + (file / "video.mp4").string());
    }
    if (!std::filesystem::is_directory(folder, error)) {
        throw HostError(video + ": there is no folder '" + folder.string() + "' to put it in");
    }
    try {
        PendingFile probe(file);
    } catch (const HostError &e) {
        throw HostError(video + ": " + e.what());
    }
    const int64_t paddedWidth = width + 128, paddedHeight = height + 128;
    if (width > kMaxVideoSide || height > kMaxVideoSide || paddedWidth * paddedHeight >= std::numeric_limits<int>::max() / 8) {
        throw HostError(video + ": ffmpeg cannot encode frames of " + std::to_string(width) + "x" +
                        std::to_string(height) + " (at most " + std::to_string(kMaxVideoSide) +
                        " pixels a side and about 268 million in all); render a smaller --size");
    }
    if (!(fps >= kMinVideoFps && fps <= kMaxVideoFps)) {
        throw HostError(video + ": ffmpeg cannot make a video of " + decimal(fps) + " frames per second (it takes " +
                        decimal(kMinVideoFps) + " to " + decimal(kMaxVideoFps) + "); change the scene's frames.fps");
    }
}

VideoPipe::VideoPipe(const std::filesystem::path &file, int width, int height, double fps) : file_(file) {
    std::string hidden = file.filename().string();
    hidden.insert(0, 1, '.');
    temporary_ = file.parent_path() / (hidden + ".partial");
    log_ = file.parent_path() / (hidden + ".log");
    const std::string size = std::to_string(width) + "x" + std::to_string(height);
    const std::string rate = std::to_string(fps);
    // H.264 in 4:2:0 needs even sides: odd frames gain one black row or column.
    std::vector<std::string> args{"ffmpeg", "-nostdin", "-y", "-loglevel", "error", "-f", "rawvideo",
                                  "-pix_fmt", "rgb24", "-s", size, "-r", rate, "-i", "pipe:0",
                                  "-vf", "pad=ceil(iw/2)*2:ceil(ih/2)*2", "-c:v", "libx264", "-pix_fmt", "yuv420p",
                                  "-crf", "18", "-movflags", "+faststart", "-f", "mp4", temporary_.string()};
    std::vector<char *> argv;
    for (std::string &arg : args) argv.push_back(arg.data());
    argv.push_back(nullptr);

    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) fail(std::strerror(errno));
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fds[0], STDIN_FILENO);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, log_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const int spawned = posix_spawnp(&pid_, "ffmpeg", &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(fds[0]);
    input_ = fds[1];
    if (spawned != 0) {
        pid_ = -1;
        fail(std::string("cannot start ffmpeg: ") + std::strerror(spawned));
    }
}

VideoPipe::~VideoPipe() {
    stop();
    std::error_code ignored;
    std::filesystem::remove(temporary_, ignored);
    std::filesystem::remove(log_, ignored);
}

void VideoPipe::add(const Frame &frame) {
    const std::vector<unsigned char> rgb = rgbSamples<unsigned char>(frame);
    for (size_t done = 0; done < rgb.size();) {
        const ssize_t n = write(input_, rgb.data() + done, rgb.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) fail("ffmpeg stopped reading frames");
        done += static_cast<size_t>(n);
    }
}

void VideoPipe::finish() {
    close(input_);
    input_ = -1;
    const int status = waitForExit(pid_);
    pid_ = -1;
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) fail("ffmpeg failed");
    if (std::rename(temporary_.c_str(), file_.c_str()) != 0) fail(std::strerror(errno));
}

void VideoPipe::fail(const std::string &why) {
    stop();
    const std::string said = lastLineOf(log_);
    throw HostError("cannot write video '" + file_.string() + "': " + why + (said.empty() ? "" : " (" + said + ")"),
                    kExitFailed);
}

void VideoPipe::stop() {
    if (input_ >= 0) close(input_);
    input_ = -1;
    if (pid_ > 0) {
        kill(pid_, SIGTERM);
        waitForExit(pid_);
    }
    pid_ = -1;
}

}  // namespace qzhost
