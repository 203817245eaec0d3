// Following a submitted render on Slurm to its end: progress as frames
// present of total, the tasks' states from squeue, and the verdict.
#pragma once

#include <atomic>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "qzhost/cluster/chunks.h"

namespace qzhost {

struct SubmittedRender {
    std::string arrayJob;                           // empty when no chunk needed rendering
    struct Task {
        FrameRange frames;
        std::vector<std::filesystem::path> files;
    };
    std::map<int, Task> tasks;                      // by array index
    std::string videoJob;                           // empty without a video job
    std::filesystem::path logs;                     // the folder of the jobs' logs
    std::vector<std::filesystem::path> frameFiles;  // every frame of the render

    std::vector<std::string> jobs() const;
    std::string jobList() const;  // "12,13", as squeue -j takes them
    // The logs' names, as sbatch's --output patterns and as the files they become.
    std::string taskLogPattern() const;
    std::string videoLogPattern() const;
    std::filesystem::path taskLog(int task) const;
    std::filesystem::path videoLog() const;
};

// Returns when every job has ended with exit code 0. Throws HostError with
// exit code 1 naming the frame ranges that failed and their logs, or, when
// stopSignal is raised, cancels the jobs and throws with 128 + the signal.
// Progress lines go to stderr unless quiet.
void followJobs(const SubmittedRender &render, bool quiet, const std::atomic<int> &stopSignal);

}  // namespace qzhost
