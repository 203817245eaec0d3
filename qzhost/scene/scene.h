// Scene files: the frame settings and the filters applied, each with its
// module file, server name and saved state.
//
//   {"frames": {"width": 1280, "height": 720, "pixelAspect": 1, "fps": 24, "first": 0, "last": 119},
//    "filters": [{"module": "vorlux.p", "server": "Vorlux", "state": [BLOCK, ...]}]}
//
// "state" may be left out for a filter with the module's defaults.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "qzhost/scene/located_json.h"

namespace qzhost {

inline constexpr int kMaxFrameSide = 32768;

struct FrameSettings {
    int width = 1280;
    int height = 720;
    double pixelAspect = 1.0;
    double fps = 24.0;
    int first = 0;
    int last = 119;

    double timeOf(int frame) const { return frame / fps; }
    int frameCount() const { return last - first + 1; }
};

struct FilterEntry {
    std::string module;  // as written: relative to the scene file or the modules folder
    std::string server = "Vorlux";
    std::optional<std::vector<Json>> state;
    // Places in the file, for messages: of the entry and of each state block.
    std::string where{};
    std::vector<std::string> blockWhere{};
};

struct SceneDocument {
    FrameSettings frames;
    std::vector<FilterEntry> filters;
};

// Throws HostError naming the file, line and column of the first problem.
SceneDocument parseScene(const std::string &text, const std::string &source);
SceneDocument readSceneFile(const std::filesystem::path &file);

Json sceneToJson(const SceneDocument &scene);

// A failure leaves the old file, or none, but never half a file; nor is a
// document written that parseScene or a parameter block would refuse.
void writeSceneFile(const std::filesystem::path &file, const SceneDocument &scene);

}  // namespace qzhost
