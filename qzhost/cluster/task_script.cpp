#include "qzhost/cluster/task_script.h"

namespace qzhost {
namespace {

// One word for /bin/sh, whatever it holds.
std::string quoted(const std::string &text) {
    std::string word = "'";
    for (char c : text) word += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return word + "'";
}

// A node that does not see the marker writes into a folder of its own, and
// the frames would be scattered over the nodes' disks: it stops instead.
std::string reachCheck(const TaskRender &render) {
    return "[ -e " + quoted(render.marker.string()) + " ] || { printf " +
           quoted("qzhost: %s on %s is not the output folder of the machine that submitted the job: "
                  "it must be on a file system that every node shares\\n") +
           " " + quoted(render.folder.string()) + " \"$(hostname)\" >&2; exit 1; }\n";
}

// Threads: every CPU Slurm gave the task on its node.
std::string renderCommand(const TaskRender &render, const std::string &frames) {
    std::string command = "exec " + quoted(render.qzhost.string()) + " render";
    if (!render.scene.empty()) command.append(" ").append(quoted(render.scene.string()));
    for (const auto &folder : render.modules) command.append(" --modules ").append(quoted(folder.string()));
    return command + " -o " + quoted(render.folder.string()) + " --frames " + frames + " --size " + render.size +
           " --format " + render.format + " --skip-existing --threads \"${SLURM_CPUS_ON_NODE:-1}\"";
}

}  // namespace

std::string chunkScript(const TaskRender &render, int chunkSize) {
    const std::string first = std::to_string(render.frames.first), last = std::to_string(render.frames.last);
    return reachCheck(render) +
           "first=$((" + first + " + SLURM_ARRAY_TASK_ID * " + std::to_string(chunkSize) + "))\n"
           "last=$((first + " + std::to_string(chunkSize - 1) + "))\n"
           "[ \"$last\" -le " + last + " ] || last=" + last + "\n" +
           renderCommand(render, "\"$first-$last\"") + "\n";
}

std::string videoScript(const TaskRender &render, const std::filesystem::path &video) {
    return reachCheck(render) + renderCommand(render, render.frames.text()) + " --video " + quoted(video.string()) +
           "\n";
}

}  // namespace qzhost
