#include <unistd.h>

#include <csignal>
#include <iostream>
#include <memory>
#include <regex>
#include <thread>

#include "qzhost/cli/commands.h"
#include "qzhost/base/error.h"
#include "qzhost/base/files.h"
#include "qzhost/base/size.h"
#include "qzhost/cluster/slurm_render.h"
#include "qzhost/render/video.h"
#include "qzhost/render/progress.h"
#include "qzhost/render/render_job.h"
#include "qzhost/scene/default_scene.h"
#include "qzhost/services/host.h"

namespace qzhost {
namespace {

constexpr int kMaxThreads = 1024;

std::atomic<bool> stopRequested{false};
std::atomic<int> stopSignal{0};

void requestStop(int signal) {
    stopSignal = signal;
    stopRequested = true;
}

// Ctrl-C and termination finish the frame being written, drop the one being
// rendered, and leave the folder ready for --skip-existing. A signal that was
// ignored when qzhost started (as for a background job of a shell) stays so.
class StopOnSignals {
public:
    StopOnSignals() {
        struct sigaction action {};
        action.sa_handler = requestStop;
        sigaction(SIGINT, &action, &previousInt_);
        sigaction(SIGTERM, &action, &previousTerm_);
        if (previousInt_.sa_handler == SIG_IGN) sigaction(SIGINT, &previousInt_, nullptr);
    }
    ~StopOnSignals() {
        sigaction(SIGINT, &previousInt_, nullptr);
        sigaction(SIGTERM, &previousTerm_, nullptr);
    }

private:
    struct sigaction previousInt_ {};
    struct sigaction previousTerm_ {};
};

struct RenderOptions {
    std::string scene;
    std::string output = "render";
    std::string frames;
    std::string size;
    std::string format = "png";
    int threads = static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
    bool skipExisting = false;
    bool quiet = false;
    std::string video;
    bool threadsGiven = false;
    bool slurm = false;
    SlurmOptions cluster;
    ModuleFolders modules;
};

void parseFrames(const std::string &text, FrameSettings &frames) {
    std::smatch match;
    if (!std::regex_match(text, match, std::regex(R"((\d{1,7})(?:-(\d{1,7}))?)"))) {
        throw HostError("--frames '" + text + "' is not a frame or a range A-B");
    }
    frames.first = std::stoi(match[1]);
    frames.last = match[2].matched ? std::stoi(match[2]) : frames.first;
    if (frames.last < frames.first) throw HostError("--frames '" + text + "' is reversed");
}

// Everything the options can get wrong is found here, before any work.
RenderRequest makeRequest(const RenderOptions &options, const FrameSettings &frames) {
    RenderRequest request;
    request.frames = frames;
    request.sceneLastFrame = frames.last;
    if (!options.frames.empty()) parseFrames(options.frames, request.frames);
    if (!options.size.empty()) {
        const Size size = parseSize(options.size, kMaxFrameSide, "--size");
        request.frames.width = size.width;
        request.frames.height = size.height;
    }
    // Before any buffer is made, so that a size that cannot fit is told
    // rather than found by running out of memory.
    checkFramePixels({request.frames.width, request.frames.height},
                     options.size.empty() ? "the scene's frame size" : "--size");
    const auto format = imageFormatNamed(options.format);
    if (!format) throw HostError("--format '" + options.format + "' is not png, png16 or exr");
    request.format = *format;
    if (options.threads < 1 || options.threads > kMaxThreads) {
        throw HostError("--threads must be from 1 to " + std::to_string(kMaxThreads));
    }
    request.threads = options.threads;
    request.skipExisting = options.skipExisting;
    if (!options.video.empty()) {
        if (!ffmpegAvailable()) throw HostError("--video needs ffmpeg, which is not installed (apt-get install ffmpeg)");
        checkVideo(options.video, request.frames.width, request.frames.height, request.frames.fps);
        request.video = options.video;
    }
    request.folder = options.output;
    std::error_code error;
    std::filesystem::create_directories(request.folder, error);
    if (error) throw HostError("cannot make output folder '" + options.output + "': " + error.message());
    try {
        PendingFile probe(request.folder / "probe");
    } catch (const HostError &e) {
        throw HostError(std::string("output folder: ") + e.what());
    }
    return request;
}

ProgressStyle progressStyle(bool quiet) {
    if (quiet) return ProgressStyle::Quiet;
    return isatty(STDERR_FILENO) ? ProgressStyle::Bar : ProgressStyle::Lines;
}

void render(const RenderOptions &options) {
    Host host;
    const bool builtIn = options.scene.empty();
    SceneDocument document = builtIn ? defaultScene((modulesFolder() / "vorlux.p").string()) : readSceneFile(options.scene);
    const RenderRequest request = makeRequest(options, document.frames);
    const std::vector<std::filesystem::path> namedModules = namedModuleFolders(options.modules);
    LoadedScene scene(host, std::move(document), builtIn ? std::filesystem::path() : std::filesystem::path(options.scene),
                      moduleSearchPath(namedModules));

    StopOnSignals signals;
    if (options.slurm) {
        renderOnSlurm({.request = request, .scene = options.scene, .format = options.format,
                       .threads = options.threadsGiven ? options.threads : 0, .quiet = options.quiet,
                       .slurm = options.cluster, .modules = namedModules},
                      stopSignal);
        return;
    }
    auto display = makeProgressDisplay(progressStyle(options.quiet));
    RenderProgress progress;
    const bool finished = runRender(scene, request, stopRequested, *display, progress);
    const int written = progress.done - progress.skipped;
    if (!finished) {
        throw HostError("interrupted: " + std::to_string(written) + " frames written to " + request.folder.string() +
                            "/; run again with --skip-existing to resume",
                        128 + stopSignal.load());
    }
    if (!options.quiet) {
        std::cout << written << " frames written to " << request.folder.string() << "/ ("
                  << frameFile(request, request.frames.first).filename().string() << " to "
                  << frameFile(request, request.frames.last).filename().string() << ")";
        if (progress.skipped) std::cout << ", " << progress.skipped << " already there";
        std::cout << " in " << progress.seconds << " s\n";
        if (request.video) std::cout << "video: " << request.video->string() << "\n";
    }
}

}  // namespace

void addRenderCommand(CLI::App &app) {
    auto options = std::make_shared<RenderOptions>();
    CLI::App *command = app.add_subcommand(
        "render", "Render a scene's frames to numbered image files. Without a scene, renders the built-in one:\n"
                  "five seconds of zoom into the edge of the set at 1280x720, 24 frames per second.");
    command->add_option("SCENE", options->scene, "The scene file (JSON); the built-in scene when left out.");
    command->add_option("-o,--output", options->output, "Folder for the frame files; made when missing.")
        ->capture_default_str();
    command->add_option("--frames", options->frames, "A frame or a range A-B; the scene's frames by default.");
    command->add_option("--size", options->size, "Frame size WIDTHxHEIGHT, instead of the scene's.");
    command->add_option("--format", options->format, "png (8-bit), png16 (16-bit) or exr (32-bit float RGBA).")
        ->capture_default_str();
    command->add_option("--threads", options->threads, "Rendering threads; all cores by default.")
        ->capture_default_str();
    command->add_flag("--skip-existing", options->skipExisting,
                      "Keep the whole frame files already there and render the rest: resumes a render\n"
                      "(a --video reads them back).");
    command->add_flag("-q,--quiet", options->quiet, "Print nothing but errors.");
    options->modules = addModulesOption(*command);
    command->add_option("--video", options->video, "Also make an H.264 video (needs ffmpeg), e.g. zoom.mp4.");
    const auto slurm = command->add_flag("--slurm", options->slurm,
                                         "Render on a Slurm cluster: one array job whose tasks render chunks of\n"
                                         "frames with --skip-existing into the output folder, which every node must share.");
    command->add_option("--chunk", options->cluster.chunk, "Frames per Slurm task; about two tasks per node by default.")
        ->check(CLI::PositiveNumber)
        ->needs(slurm);
    command->add_option("--partition", options->cluster.partition, "The Slurm partition to render in.")->needs(slurm);
    command->add_option("--sbatch-arg", options->cluster.sbatchArgs,
                        "One more option for sbatch, e.g. --sbatch-arg=--time=2:00:00; may be repeated.")
        ->allow_extra_args(false)
        ->needs(slurm);
    command->add_flag("--wait", options->cluster.wait,
                      "Follow the Slurm jobs to their end, with progress; Ctrl-C cancels them.")
        ->needs(slurm);
    command->callback([options, command] {
        options->threadsGiven = command->count("--threads") > 0;
        render(*options);
    });
}

}  // namespace qzhost
