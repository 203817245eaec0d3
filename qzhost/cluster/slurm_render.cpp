#include "qzhost/cluster/slurm_render.h"

#include <linux/magic.h>
#include <sys/vfs.h>

#include <iostream>
#include <random>

#include "qzhost/cluster/follow.h"
#include "qzhost/cluster/slurm.h"
#include "qzhost/cluster/task_script.h"
#include "qzhost/base/error.h"
#include "qzhost/base/files.h"

namespace qzhost {
namespace {

namespace fs = std::filesystem;

// Which folders the tasks cannot share can be told only in part: the places
// every machine keeps for itself, and memory. (A task that still finds
// another folder than the submission's stops with a line saying so.)
void checkShared(const fs::path &folder) {
    for (const char *local : {"/tmp", "/var/tmp", "/dev/shm", "/run"}) {
        const std::string prefix(local);
        if (folder.string() == prefix || folder.string().starts_with(prefix + "/")) {
            throw HostError("--slurm: the output folder " + folder.string() + " is in " + prefix +
                            ", which each machine keeps for itself; use a folder on a file system every node shares");
        }
    }
    struct statfs info {};
    if (statfs(folder.c_str(), &info) == 0 && (info.f_type == TMPFS_MAGIC || info.f_type == RAMFS_MAGIC)) {
        throw HostError("--slurm: the output folder " + folder.string() +
                        " is in this machine's memory (tmpfs); use a folder on a file system every node shares");
    }
}

std::vector<fs::path> filesOf(const RenderRequest &request, FrameRange frames) {
    RenderRequest part = request;  // a task names its files as a render of its own frames does
    part.frames.first = frames.first;
    part.frames.last = frames.last;
    std::vector<fs::path> files;
    for (int frame = frames.first; frame <= frames.last; ++frame) files.push_back(frameFile(part, frame));
    return files;
}

// sbatch's --array list: "0,2-4", runs written as ranges.
std::string arrayIndices(const std::map<int, SubmittedRender::Task> &tasks) {
    std::string text;
    for (auto it = tasks.begin(); it != tasks.end();) {
        const int first = it->first;
        int last = first;
        while (++it != tasks.end() && it->first == last + 1) ++last;
        if (!text.empty()) text += ',';
        text += FrameRange{first, last}.text();
    }
    return text;
}

std::vector<std::string> commonOptions(const SlurmRender &render) {
    std::vector<std::string> options;
    options.push_back(render.threads > 0 ? "--cpus-per-task=" + std::to_string(render.threads) : "--exclusive");
    if (!render.slurm.partition.empty()) options.push_back("--partition=" + render.slurm.partition);
    return options;
}

// The user's sbatch options come last, so that they override qzhost's own.
std::string submit(std::vector<std::string> options, const SlurmRender &render, const std::string &script) {
    options.insert(options.end(), render.slurm.sbatchArgs.begin(), render.slurm.sbatchArgs.end());
    return submitJob({options, script});
}

std::string randomToken() {
    std::random_device device;
    return std::to_string(device()) + std::to_string(device());
}

}  // namespace

void renderOnSlurm(const SlurmRender &render, const std::atomic<int> &stopSignal) {
    const RenderRequest &request = render.request;
    const fs::path folder = fs::canonical(request.folder);
    checkShared(folder);
    const FrameRange whole{request.frames.first, request.frames.last};
    const int chunkSize = render.slurm.chunk > 0 ? render.slurm.chunk
                                                 : defaultChunkSize(whole.count(), nodeCount(render.slurm.partition));

    SubmittedRender submitted;
    submitted.logs = folder / "slurm";
    const std::vector<FrameRange> chunks = splitFrames(whole, chunkSize);
    for (size_t i = 0; i < chunks.size(); ++i) {
        std::vector<fs::path> files = filesOf(request, chunks[i]);
        submitted.frameFiles.insert(submitted.frameFiles.end(), files.begin(), files.end());
        for (const fs::path &file : files) {
            if (isWholeFrameFile(file, request.format, request.frames.width, request.frames.height)) continue;
            submitted.tasks[static_cast<int>(i)] = {chunks[i], std::move(files)};
            break;
        }
    }
    const std::optional<fs::path> video = request.video ? std::optional(fs::absolute(*request.video)) : std::nullopt;
    const bool videoMissing = video && (!submitted.tasks.empty() || !fs::exists(*video));
    if (submitted.tasks.empty() && !videoMissing) {
        if (!render.quiet) std::cout << "all " << whole.count() << " frames are already in " << folder.string() << "/\n";
        return;
    }

    std::error_code error;
    fs::create_directories(submitted.logs, error);
    if (error) throw HostError("cannot make the log folder " + submitted.logs.string() + ": " + error.message());
    TaskRender task{.qzhost = fs::read_symlink("/proc/self/exe"),
                    .scene = render.scene.empty() ? fs::path() : fs::absolute(render.scene),
                    .folder = folder,
                    .marker = submitted.logs / (".submitted-" + randomToken()),
                    .size = std::to_string(request.frames.width) + "x" + std::to_string(request.frames.height),
                    .format = render.format,
                    .frames = whole,
                    .modules = render.modules};
    writeFileAtomically(task.marker, "");

    if (!submitted.tasks.empty()) {
        std::vector<std::string> options = commonOptions(render);
        options.insert(options.end(), {"--job-name=qzhost-render", "--output=" + submitted.taskLogPattern(),
                                       "--array=" + arrayIndices(submitted.tasks)});
        submitted.arrayJob = submit(options, render, chunkScript(task, chunkSize));
    }
    if (videoMissing) {
        std::vector<std::string> options = commonOptions(render);
        options.insert(options.end(), {"--job-name=qzhost-video", "--output=" + submitted.videoLogPattern()});
        if (!submitted.arrayJob.empty()) {
            options.insert(options.end(), {"--dependency=afterok:" + submitted.arrayJob, "--kill-on-invalid-dep=yes"});
        }
        try {
            submitted.videoJob = submit(options, render, videoScript(task, *video));
        } catch (const HostError &) {
            if (!submitted.arrayJob.empty()) cancelJobs({submitted.arrayJob});  // one command, one outcome
            throw;
        }
    }

    if (!render.quiet) {
        if (!submitted.arrayJob.empty()) {
            const size_t complete = chunks.size() - submitted.tasks.size();
            std::cout << "Slurm job " << submitted.arrayJob << ": " << submitted.tasks.size() << " tasks render frames "
                      << whole.text() << " in chunks of " << chunkSize << " into " << folder.string() << "/";
            if (complete) std::cout << " (" << complete << " of " << chunks.size() << " chunks are complete already)";
            std::cout << "\n";
        }
        if (!submitted.videoJob.empty()) {
            std::cout << "Slurm job " << submitted.videoJob << ": the video " << video->string()
                      << (submitted.arrayJob.empty() ? "" : ", once job " + submitted.arrayJob + " has succeeded")
                      << "\n";
        }
        std::cout << "follow with: squeue -j " << submitted.jobList() << "   logs: " << submitted.logs.string() << "/\n";
    }
    if (!render.slurm.wait) return;
    followJobs(submitted, render.quiet, stopSignal);
    if (!render.quiet) {
        std::cout << "all " << whole.count() << " frames are in " << folder.string() << "/"
                  << (video ? ", and the video in " + video->string() : "") << "\n";
    }
}

}  // namespace qzhost
