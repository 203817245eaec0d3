#include "fractal/fractal.h"

#include <cmath>

namespace vorlux {
namespace {

// 0.33333 is the float nearest to that decimal, not a third.
constexpr float kPalette[7][3] = {
    {0.33333f, 0.0f, 0.5f}, {0.33333f, 0.0f, 0.0f}, {1.0f, 0.0f, 0.0f}, {1.0f, 1.0f, 0.0f},
    {0.0f, 1.0f, 0.0f},     {0.0f, 1.0f, 1.0f},     {0.0f, 0.0f, 1.0f},
};
constexpr int kPaletteSize = 7;

}  // namespace

void paletteColour(int count, float rgb[3]) {
    // For counts below 512, 7*count/256 and its remainder are exact in both
    // precisions, so the segment and the blend factor carry no rounding.
    const double position = std::fmod(count * 7.0 / 256.0, 7.0);
    const float f = static_cast<float>(position);
    const int k = static_cast<int>(std::floor(f));
    const int k1 = (k + 1) % kPaletteSize;
    const float frac = f - static_cast<float>(k);
    // The blend is done in double and rounded once; blending in float gives
    // the neighbouring float for some counts.
    for (int i = 0; i < 3; ++i) {
        const double from = kPalette[k][i];
        const double to = kPalette[k1][i];
        rgb[i] = static_cast<float>((to - from) * static_cast<double>(frac) + from);
    }
}

void pointColour(double px, double py, int width, int height, const ViewGeometry &view, float rgb[3]) {
    const double cr = (px - (width >> 1)) * view.stepX + view.centerX;
    const double ci = (py - (height >> 1)) * view.stepY + view.centerY;
    const int count = escapeCount(cr, ci);
    if (count == kIterationLimit) {
        rgb[0] = rgb[1] = rgb[2] = 0.0f;
    } else {
        paletteColour(count, rgb);
    }
}

void applyRenderSteps(ViewGeometry &view, int width, double pixelAspect) {
    const double span = kViewSpan / view.zoom;
    view.stepX = span / static_cast<double>(width);
    view.stepY = -(view.stepX / pixelAspect);
}

void applySquareSteps(ViewGeometry &view, int width) {
    const double span = kViewSpan / view.zoom;
    view.stepX = span / static_cast<double>(width);
    view.stepY = -view.stepX;
}

}  // namespace vorlux
