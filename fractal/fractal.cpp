#include "fractal/fractal.h"

#include <array>
#include <cmath>

#include "fractal/exact_arithmetic.h"
#include "fractal/pixel_mapping.h"
#include "fractal/row_engine.h"

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

namespace {

// The colour of every count, worked out once when the module loads, so that
// colouring a pixel costs a lookup rather than a remainder and three blends.
// The limit's entry is black: points taken to lie inside the set.
using CountColours = std::array<std::array<float, 3>, kIterationLimit + 1>;

const CountColours kCountColours = [] {
    CountColours colours{};
    for (int count = 1; count < kIterationLimit; ++count) paletteColour(count, colours[count].data());
    return colours;
}();

}  // namespace

PlanePoint planePoint(double px, double py, int width, int height, const ViewGeometry &view) {
    return mapPixel(px, py, width, height, view);
}

const float *countColour(int count) { return kCountColours[count].data(); }

void rowCounts(double px, double py, int size, int width, int height, const ViewGeometry &view, double *cr,
               int *counts) {
    const double ci = mapPixel(px, py, width, height, view).ci;
    for (int i = 0; i < size; ++i) cr[i] = mapPixel(px + i, py, width, height, view).cr;
    escapeCountRow(cr, size, ci, counts);
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
