// An H.264 video made by ffmpeg from frames fed to it as they are rendered.
#pragma once

#include <sys/types.h>

#include <filesystem>
#include <memory>

#include "qzhost/image/frame.h"

namespace qzhost {

// Whether ffmpeg can be started; checked before any work begins.
bool ffmpegAvailable();

// The frame rates and sizes the video takes: ffmpeg's H.264 encoder refuses
// sides over 16384 pixels, ffmpeg itself frames whose (width + 128) x
// (height + 128) reach INT_MAX / 8, and rates outside these bounds fail its muxer.
inline constexpr int kMaxVideoSide = 16384;
inline constexpr double kMinVideoFps = 0.001;
inline constexpr double kMaxVideoFps = 1e6;

// Throws HostError for what would otherwise fail only once every frame is
// rendered: a target that is a folder, or in a folder that is missing or
// takes no files, and a frame size or rate outside the bounds above.
void checkVideo(const std::filesystem::path &file, int width, int height, double fps);

class VideoPipe {
public:
    // Starts ffmpeg writing to a temporary file beside the target.
    VideoPipe(const std::filesystem::path &file, int width, int height, double fps);
    // Without finish(), stops ffmpeg and leaves no file.
    ~VideoPipe();
    VideoPipe(const VideoPipe &) = delete;
    VideoPipe &operator=(const VideoPipe &) = delete;

    void add(const Frame &frame);
    // Waits for ffmpeg and puts the video in place; throws HostError with
    // ffmpeg's own complaint when it failed.
    void finish();

private:
    [[noreturn]] void fail(const std::string &why);
    void stop();

    std::filesystem::path file_;
    std::filesystem::path temporary_;
    std::filesystem::path log_;
    pid_t pid_ = -1;
    int input_ = -1;
};

}  // namespace qzhost
