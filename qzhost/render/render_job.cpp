#include "qzhost/render/render_job.h"

#include <charconv>
#include <chrono>
#include <future>

#include "qzhost/base/files.h"
#include "qzhost/render/video.h"

namespace qzhost {
namespace {

bool namesFrameOf(const RenderRequest &request, const std::string &name) {
    const std::string prefix = "frame-";
    if (name.compare(0, prefix.size(), prefix) != 0) return false;
    int frame = 0;
    const char *digits = name.data() + prefix.size();
    if (std::from_chars(digits, name.data() + name.size(), frame).ec != std::errc()) return false;
    return frame >= request.frames.first && frame <= request.frames.last &&
           frameFile(request, frame).filename() == name;
}

// A run killed while writing leaves the temporary file of its frame; a resume
// removes those of its own frames. Other frames' may be another run's, still
// being written into the same folder (as the tasks of a cluster render do).
void removeAbandonedFrames(const RenderRequest &request) {
    std::error_code error;
    for (std::filesystem::directory_iterator entry(request.folder, error), end; !error && entry != end;
         entry.increment(error)) {
        const auto target = pendingFileTarget(entry->path());
        if (target && namesFrameOf(request, target->filename().string())) removeAbandonedPendingFile(entry->path());
    }
}

}  // namespace

std::filesystem::path frameFile(const RenderRequest &request, int frame) {
    const int last = std::max(request.frames.last, request.sceneLastFrame);
    const int digits = std::max<int>(4, std::to_string(last).size());
    std::string number = std::to_string(frame);
    number.insert(0, digits - std::min<int>(digits, number.size()), '0');
    return request.folder / ("frame-" + number + "." + extensionOf(request.format));
}

bool runRender(LoadedScene &scene, const RenderRequest &request, const std::atomic<bool> &stop,
               ProgressDisplay &display, RenderProgress &progress) {
    const auto start = std::chrono::steady_clock::now();
    const auto elapsed = [&] { return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(); };
    progress = RenderProgress{};
    progress.total = request.frames.frameCount();

    const FrameSettings &settings = request.frames;
    Renderer renderer(scene, settings.width, settings.height, settings.pixelAspect, request.threads);
    std::optional<VideoPipe> video;
    if (request.video) video.emplace(*request.video, settings.width, settings.height, settings.fps);

    // Two frames at most: one being rendered, the other being written.
    Frame frames[2];
    std::future<void> writing;
    int writingFrame = 0;
    const auto collect = [&] {
        if (!writing.valid()) return;
        writing.get();
        ++progress.done;
        progress.frame = writingFrame;
        progress.kept = false;
        progress.seconds = elapsed();
        progress.pixelSeconds = renderer.pixelSeconds();
        progress.pixels += static_cast<long long>(settings.width) * settings.height;
        display.update(progress, frameFile(request, writingFrame));
    };

    if (request.skipExisting) removeAbandonedFrames(request);
    bool finished = true;
    for (int frame = settings.first, slot = 0; frame <= settings.last; ++frame) {
        const std::filesystem::path file = frameFile(request, frame);
        // Only a whole frame of this render counts as done: one cut short, of
        // another size, or a folder in its place is rendered (and written) again.
        if (request.skipExisting && isWholeFrameFile(file, request.format, settings.width, settings.height)) {
            collect();
            // The video takes every frame in order, so one kept on disk is read back.
            if (video) video->add(readImage(file, request.format));
            ++progress.done;
            ++progress.skipped;
            progress.frame = frame;
            progress.kept = true;
            display.update(progress, file);
            continue;
        }
        Frame &target = frames[slot];
        slot = 1 - slot;
        if (!renderer.render(frame, settings.timeOf(frame), target, stop)) {
            finished = false;
            break;
        }
        collect();
        writingFrame = frame;
        writing = std::async(std::launch::async, [&request, &video, &target, file] {
            writeImage(target, file, request.format);
            if (video) video->add(target);
        });
    }
    collect();
    if (finished && video) video->finish();
    progress.seconds = elapsed();
    display.finish(progress);
    return finished;
}

}  // namespace qzhost
