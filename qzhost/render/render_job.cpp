#include "qzhost/render/render_job.h"

#include <chrono>
#include <future>

#include "qzhost/render/video.h"

namespace qzhost {

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

    bool finished = true;
    for (int frame = settings.first, slot = 0; frame <= settings.last; ++frame) {
        const std::filesystem::path file = frameFile(request, frame);
        // Only a file counts as done: a folder in the frame's place must fail the write, not pass for the frame.
        if (request.skipExisting && std::filesystem::is_regular_file(file)) {
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
