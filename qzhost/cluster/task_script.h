// The shell scripts that Slurm runs on the nodes: each checks that it sees
// the output folder the submission made, then runs qzhost render on its
// frames with --skip-existing, so that a task run again only adds what is
// missing.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "qzhost/cluster/chunks.h"

namespace qzhost {

// What every task repeats of the render, by absolute paths, so that it runs
// the same on whichever node.
struct TaskRender {
    std::filesystem::path qzhost;  // this executable; the modules are beside it
    std::filesystem::path scene;   // empty for the built-in scene
    std::filesystem::path folder;
    std::filesystem::path marker;  // left in the folder by the submission: proof the node sees the same folder
    std::string size;              // WIDTHxHEIGHT
    std::string format;
    FrameRange frames;             // the whole render's
    std::vector<std::filesystem::path> modules;  // trusted module folders named with --modules
};

// Array task i renders chunk i of `chunkSize` frames, the last one cut at the
// render's last frame.
std::string chunkScript(const TaskRender &render, int chunkSize);

// Makes the video from every frame, rendering any still missing.
std::string videoScript(const TaskRender &render, const std::filesystem::path &video);

}  // namespace qzhost
