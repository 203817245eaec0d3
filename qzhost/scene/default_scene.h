#pragma once

#include <string>

#include "qzhost/scene/scene.h"

namespace qzhost {

// The scene rendered when none is given: five seconds at 24 frames per second
// in 1280x720, starting at the filter's default view and zooming at constant
// speed into a point on the edge of the set inside that view, so that every
// frame shows detail.
SceneDocument defaultScene(const std::string &module = "vorlux.p");

}  // namespace qzhost
