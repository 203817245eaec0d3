#include "qzhost/scene/default_scene.h"

namespace qzhost {
namespace {

// A point on the edge of the black region, a dozen pixels from the default
// centre at the default zoom, chosen among many such points for keeping the
// most varied picture at every depth down to the final zoom.
constexpr double kStartX = -0.222;
constexpr double kStartY = 0.8;
constexpr double kTargetX = -0.22053957527016518;
constexpr double kTargetY = 0.79795777450526995;
constexpr double kPanSeconds = 1.0;
constexpr double kStartZoom = 15.0;
constexpr double kEndZoom = 1.5e6;

Json key(double time, double value, const char *curve = nullptr) {
    Json entry{{"time", time}, {"value", value}};
    if (curve) entry["curve"] = curve;
    return entry;
}

Json channel(const char *name, Json keys) { return Json{{"channel", name}, {"keys", std::move(keys)}}; }

}  // namespace

SceneDocument defaultScene(const std::string &module) {
    SceneDocument scene;
    scene.frames = FrameSettings{1280, 720, 1.0, 24.0, 0, 119};
    const double end = scene.frames.timeOf(scene.frames.last);
    FilterEntry filter;
    filter.module = module;
    // The centre glides to the target early, while the view is still wide
    // enough that the target never leaves it; the zoom grows at constant speed.
    filter.state = std::vector<Json>{
        channel("Center.X", {key(0, kStartX, "smooth"), key(kPanSeconds, kTargetX)}),
        channel("Center.Y", {key(0, kStartY, "smooth"), key(kPanSeconds, kTargetY)}),
        channel("Zoom", {key(0, kStartZoom, "exponential"), key(end, kEndZoom)}),
    };
    scene.filters.push_back(std::move(filter));
    return scene;
}

}  // namespace qzhost
