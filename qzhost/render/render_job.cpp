#include "qzhost/render/render_job.h"

#include <chrono>
#include <future>

#include "qzhost/output/video.h"

namespace qzhost {

RenderRequest renderRequestFor(const FrameSettings &frames) {
    RenderRequest request;
    request.first = frames.first;
    request.last = frames.last;
    request.width = frames.width;
    request.height = frames.height;
    request.pixelAspect = frames.pixelAspect;
    request.fps = frames.fps;
    return request;
}

std::filesystem::path frameFile(const RenderRequest &request, int frame) {
    const int digits = std::max<int>(4, std::to_string(request.last).size());
    std::string number = std::to_string(frame);
    number.insert(0, digits - std::min<int>(digits, number.size()), '0');
    return request.folder / ("frame-" + number + "." + extensionOf(request.format));
}

bool runRender(LoadedScene &scene, const RenderRequest &request, const std::atomic<bool> &stop,
               ProgressDisplay &display, RenderProgress &progress) {
    const auto start = std::chrono::steady_clock::now();
    const auto elapsed = [&] { return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(); };
    progress = RenderProgress{};
    progress.total = request.last - request.first + 1;

    Renderer renderer(scene, request.width, request.height, request.pixelAspect, request.threads);
    std::optional<VideoPipe> video;
    if (request.video) video.emplace(*request.video, request.width, request.height, request.fps);

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
        progress.pixels += static_cast<long long>(request.width) * request.height;
        display.update(progress, frameFile(request, writingFrame));
    };

    bool finished = true;
    for (int frame = request.first, slot = 0; frame <= request.last; ++frame) {
        const std::filesystem::path file = frameFile(request, frame);
        if (request.skipExisting && std::filesystem::exists(file)) {
            collect();
            ++progress.done;
            ++progress.skipped;
            progress.frame = frame;
            progress.kept = true;
            display.update(progress, file);
            continue;
        }
        Frame &target = frames[slot];
        slot = 1 - slot;
        if (!renderer.render(frame, request.fps > 0 ? frame / request.fps : 0.0, target, stop)) {
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
