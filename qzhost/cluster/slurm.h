// Slurm's command-line clients (sbatch, squeue, sinfo, scancel), the
// scheduler's stable interface: the command lines qzhost gives them and what
// it reads from their answers. Each function throws HostError (exit code 2)
// saying that Slurm's client tools are needed when one is not on the PATH.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace qzhost {

// A batch job as sbatch takes it.
struct BatchJob {
    std::vector<std::string> options;  // sbatch options, one argument each
    std::string script;                // run by /bin/sh on the node
};

// Submits the job and returns its id. Throws HostError (exit code 2) with
// sbatch's own words when the scheduler refuses it.
std::string submitJob(const BatchJob &job);

// One job, or one task of an array job, as squeue sees it.
struct TaskState {
    std::string job;    // the job's id; for a task, its array's
    int task = -1;      // the array index; -1 for a job that is no array
    std::string state;  // PENDING, RUNNING, COMPLETED, FAILED, ...
};

// Whether a job in this state has ended; only COMPLETED means exit code 0.
bool hasEnded(const std::string &state);

// Every task of these jobs that the controller still holds, ended ones
// included (until it forgets them). Empty once it has forgotten them all;
// nothing when squeue could not answer this time.
std::optional<std::vector<TaskState>> jobStates(const std::vector<std::string> &jobs);

// The nodes of a partition, or of the default partition when none is named;
// 1 when sinfo cannot tell.
int nodeCount(const std::string &partition);

// Cancels the jobs; returns scancel's complaint, empty when it succeeded.
std::string cancelJobs(const std::vector<std::string> &jobs);

}  // namespace qzhost
