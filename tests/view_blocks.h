// The blocks a scene, a preset or an instance's state holds for values that
// are not animated: one value for the whole scene.
#pragma once

#include <vector>

#include "qzhost/base/json.h"

namespace qzhost {

inline Json constantBlock(const char *channel, double value) { return Json{{"channel", channel}, {"value", value}}; }

// The filter's three values, in the order its state holds them.
inline std::vector<Json> viewBlocks(double x, double y, double zoom) {
    return {constantBlock("Center.X", x), constantBlock("Center.Y", y), constantBlock("Zoom", zoom)};
}

}  // namespace qzhost
