// qzhost render --slurm: a render split by frame ranges into the tasks of one
// Slurm array job, and the video as a second job once they have all succeeded.
#pragma once

#include <atomic>
#include <filesystem>
#include <string>
#include <vector>

#include "qzhost/render/render_job.h"

namespace qzhost {

// What --slurm and the options beside it ask for.
struct SlurmOptions {
    int chunk = 0;  // frames per task; 0 for about two tasks per node
    std::string partition;
    std::vector<std::string> sbatchArgs;  // passed on to sbatch after qzhost's own
    bool wait = false;
};

struct SlurmRender {
    RenderRequest request;        // as render resolved it: frames, size, folder, format, video
    std::filesystem::path scene;  // empty for the built-in scene
    std::string format;           // the name --format was given
    int threads = 0;              // CPUs per task; 0 for a whole node each
    bool quiet = false;
    SlurmOptions slurm;
    std::vector<std::filesystem::path> modules;  // the folders given with --modules, for the tasks' renders
};

// Submits the chunks that still miss frames (and the video when it is asked
// for and missing), prints the job ids and how to follow them, and returns.
// With wait, follows the jobs and returns only when every task ended with
// exit code 0. Throws HostError: exit code 2 for what cannot be submitted, 1
// naming the failed frame ranges and their logs, 128 + the signal when
// stopSignal was raised meanwhile (the jobs are then cancelled).
void renderOnSlurm(const SlurmRender &render, const std::atomic<int> &stopSignal);

}  // namespace qzhost
