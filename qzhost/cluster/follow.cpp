#include "qzhost/cluster/follow.h"

#include <chrono>
#include <iostream>
#include <thread>
#include <unordered_set>

#include "qzhost/cluster/slurm.h"
#include "qzhost/base/error.h"

namespace qzhost {
namespace {

namespace fs = std::filesystem;

// Asking squeue more often would load a busy controller for nothing.
constexpr auto kPollInterval = std::chrono::seconds(2);

// The last state seen of each job or task; "" once the controller has
// forgotten one whose end it was not seen to reach.
struct Seen {
    std::map<int, std::string> tasks;
    std::string video;
    bool ended = false;
};

Seen look(const SubmittedRender &render, const std::vector<TaskState> &states, const Seen &before) {
    Seen now;
    for (const auto &[task, chunk] : render.tasks) now.tasks[task] = "";
    if (!render.videoJob.empty()) now.video = "";
    for (const TaskState &state : states) {
        if (state.job == render.arrayJob && now.tasks.count(state.task)) now.tasks[state.task] = state.state;
        if (state.job == render.videoJob) now.video = state.state;
    }
    // A job the controller forgot keeps the end it was last seen with.
    for (auto &[task, state] : now.tasks) {
        if (state.empty() && hasEnded(before.tasks.count(task) ? before.tasks.at(task) : "")) state = before.tasks.at(task);
    }
    if (now.video.empty() && hasEnded(before.video)) now.video = before.video;
    now.ended = true;
    for (const auto &[task, state] : now.tasks) now.ended = now.ended && (state.empty() || hasEnded(state));
    if (!render.videoJob.empty()) now.ended = now.ended && (now.video.empty() || hasEnded(now.video));
    return now;
}

int framesPresent(const SubmittedRender &render) {
    // One listing of the folder costs far less than a look-up per frame.
    std::unordered_set<std::string> names;
    std::error_code error;
    const fs::path folder = render.frameFiles.front().parent_path();
    for (fs::directory_iterator entry(folder, error), end; !error && entry != end; entry.increment(error)) {
        std::error_code gone;  // a file may go while the folder is read
        if (entry->is_regular_file(gone)) names.insert(entry->path().filename().string());
    }
    int present = 0;
    for (const fs::path &file : render.frameFiles) present += names.count(file.filename().string());
    return present;
}

std::string summary(const Seen &seen, int present, int total) {
    int done = 0, running = 0, waiting = 0, failed = 0;
    for (const auto &[task, state] : seen.tasks) {
        if (state == "COMPLETED") ++done;
        else if (state == "RUNNING" || state == "COMPLETING") ++running;
        else if (hasEnded(state)) ++failed;
        else ++waiting;
    }
    std::string text = std::to_string(present) + " of " + std::to_string(total) + " frames present; tasks: " +
                       std::to_string(done) + " done, " + std::to_string(running) + " running, " +
                       std::to_string(waiting) + " waiting";
    if (failed) text += ", " + std::to_string(failed) + " failed";
    if (!seen.video.empty()) text += "; video job: " + seen.video;
    return text;
}

bool allExist(const std::vector<fs::path> &files) {
    for (const fs::path &file : files) {
        if (!fs::is_regular_file(file)) return false;
    }
    return true;
}

// What went wrong, in one line; empty when nothing did.
std::string failures(const SubmittedRender &render, const Seen &seen) {
    std::string text;
    const auto add = [&text](const std::string &what) { text += (text.empty() ? "" : "; ") + what; };
    for (const auto &[task, state] : seen.tasks) {
        // A task forgotten before its end was seen is judged by its frames, which appear only whole.
        const SubmittedRender::Task &chunk = render.tasks.at(task);
        if (state == "COMPLETED" || (state.empty() && allExist(chunk.files))) continue;
        add("frames " + chunk.frames.text() + " " + (state.empty() ? "missing" : state) + " (log " +
            render.taskLog(task).string() + ")");
    }
    if (!render.videoJob.empty() && seen.video != "COMPLETED") {
        add(text.empty() ? "the video job " + (seen.video.empty() ? std::string("left the queue unseen") : seen.video) +
                               " (log " + render.videoLog().string() + ")"
                         : "the video was not made");
    }
    return text;
}

}  // namespace

std::vector<std::string> SubmittedRender::jobs() const {
    std::vector<std::string> ids;
    for (const std::string &id : {arrayJob, videoJob}) {
        if (!id.empty()) ids.push_back(id);
    }
    return ids;
}

std::string SubmittedRender::jobList() const {
    std::string list;
    for (const std::string &id : jobs()) list += (list.empty() ? "" : ",") + id;
    return list;
}

std::string SubmittedRender::taskLogPattern() const { return (logs / "render-%A_%a.log").string(); }
std::string SubmittedRender::videoLogPattern() const { return (logs / "video-%j.log").string(); }
fs::path SubmittedRender::taskLog(int task) const {
    return logs / ("render-" + arrayJob + "_" + std::to_string(task) + ".log");
}
fs::path SubmittedRender::videoLog() const { return logs / ("video-" + videoJob + ".log"); }

void followJobs(const SubmittedRender &render, bool quiet, const std::atomic<int> &stopSignal) {
    const int total = static_cast<int>(render.frameFiles.size());
    Seen seen;
    std::string said;
    for (;;) {
        if (const auto states = jobStates(render.jobs())) seen = look(render, *states, seen);
        const std::string now = summary(seen, framesPresent(render), total);
        if (!quiet && now != said) std::cerr << "slurm: " << now << std::endl;
        said = now;
        if (seen.ended) break;
        for (auto waited = std::chrono::milliseconds(0); waited < kPollInterval && !stopSignal;
             waited += std::chrono::milliseconds(100)) {
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
        if (stopSignal) {
            const std::string complaint = cancelJobs(render.jobs());
            throw HostError(complaint.empty() ? "interrupted: cancelled Slurm jobs " + render.jobList() +
                                                    " (scancel); the frames written are kept, and the same command "
                                                    "renders the rest"
                                              : "interrupted, but scancel failed (" + complaint + "): cancel jobs " +
                                                    render.jobList() + " yourself",
                            128 + stopSignal.load());
        }
    }
    const std::string failed = failures(render, seen);
    if (!failed.empty()) {
        throw HostError("on Slurm: " + failed + "; run the same command again to render what is missing", kExitFailed);
    }
}

}  // namespace qzhost
