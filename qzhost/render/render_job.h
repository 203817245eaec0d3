// A whole render: frames in order to numbered files (and optionally a video),
// each frame written while the next is rendered.
#pragma once

#include <atomic>
#include <filesystem>
#include <optional>

#include "qzhost/image/image_files.h"
#include "qzhost/render/renderer.h"

namespace qzhost {

struct RenderRequest {
    FrameSettings frames;  // which frames, at what size and rate: a scene's, or changed by the caller
    int sceneLastFrame = 0;  // file names are padded for it too, so that a part of a scene is named as the whole
    int threads = 1;
    std::filesystem::path folder;
    ImageFormat format = ImageFormat::Png8;
    bool skipExisting = false;  // keep whole frame files already there; remove ones a killed run left unfinished
    std::optional<std::filesystem::path> video{};
};

// What a render has done so far, as its progress display sees it.
struct RenderProgress {
    int frame = 0;        // the frame just finished
    bool kept = false;    // it was already on disk and left alone
    int done = 0;         // frames rendered or skipped
    int total = 0;
    int skipped = 0;
    double seconds = 0;   // since the render started
    double pixelSeconds = 0;
    long long pixels = 0;  // pixels rendered
};

class ProgressDisplay {
public:
    virtual ~ProgressDisplay() = default;
    virtual void update(const RenderProgress &progress, const std::filesystem::path &file) = 0;
    virtual void finish(const RenderProgress &progress) = 0;
};

// Frame files are named frame-NNNN.EXT, padded to at least four digits, and
// to as many as the last frame of the range or of the scene has.
std::filesystem::path frameFile(const RenderRequest &request, int frame);

// Renders the requested frames of a scene. Returns false when stop was raised:
// frames finished before that are complete on disk, the one in progress is
// not written at all.
bool runRender(LoadedScene &scene, const RenderRequest &request, const std::atomic<bool> &stop,
               ProgressDisplay &display, RenderProgress &progress);

}  // namespace qzhost
