#include <gtest/gtest.h>

#include <array>
#include <bit>
#include <cmath>
#include <limits>

#include "fractal/fractal.h"

using namespace vorlux;

namespace {

using Rgb = std::array<float, 3>;

uint32_t bits(float value) { return std::bit_cast<uint32_t>(value); }

Rgb palette(int count) {
    Rgb rgb;
    paletteColour(count, rgb.data());
    return rgb;
}

Rgb colourAt(double px, double py, int width, int height, const ViewGeometry &view) {
    Rgb rgb{-1, -1, -1};
    pointColour(px, py, width, height, view, rgb.data());
    return rgb;
}

// Bit for bit: a float comparison would take -0 for 0.
void expectSame(Rgb got, Rgb want) {
    for (int c = 0; c < 3; ++c) EXPECT_EQ(bits(got[c]), bits(want[c])) << "channel " << c;
}

const ViewGeometry kDefaultView{-0.222, 0.8, 15.0, 0.0, 0.0};

}  // namespace

TEST(EscapeCount, BoundaryOfTheRadiusAndTheLimit) {
    EXPECT_EQ(escapeCount(0.0, 0.0), 512);
    EXPECT_EQ(escapeCount(2.0, 0.0), 1);
    EXPECT_EQ(escapeCount(-2.0, 0.0), 1) << "|z1|^2 == 4 counts as escaped";
    EXPECT_EQ(escapeCount(-0.222, 0.8), 279);
    const double nan = std::numeric_limits<double>::quiet_NaN();
    EXPECT_EQ(escapeCount(nan, 0.0), 512) << "a NaN never compares >= 4";
}

TEST(PaletteColour, BlendsInDoubleAndRoundsOnce) {
    // Count 40 sits at position 1.09375; a float blend gives the next float up.
    EXPECT_EQ(bits(palette(40)[0]), 0x3ECAAA45u);
    // Count 1: entry 0 blended 7/256 of the way towards entry 1.
    const Rgb one = palette(1);
    EXPECT_EQ(bits(one[0]), bits(0.33333f));
    EXPECT_EQ(one[1], 0.0f);
    EXPECT_EQ(one[2], static_cast<float>((0.0 - 0.5) * (7.0 / 256.0) + 0.5));
}

TEST(PaletteColour, WrapsEvery256Counts) {
    expectSame(palette(256), {0.33333f, 0.0f, 0.5f});
    // 255 is in the last segment, blending entry 6 (blue) back towards entry 0.
    const Rgb before = palette(255);
    EXPECT_EQ(before[1], 0.0f);
    EXPECT_GT(before[2], 0.5f);
    EXPECT_LT(before[2], 1.0f);
    expectSame(palette(257), palette(1));
    expectSame(palette(511), palette(255));
}

TEST(PointColour, DefaultViewCentreAndRenderSteps) {
    ViewGeometry view = kDefaultView;
    applyRenderSteps(view, 640, 1.0);
    EXPECT_EQ(view.stepX, 3.2 / 15.0 / 640.0);
    EXPECT_EQ(view.stepY, -view.stepX);
    expectSame(colourAt(320, 240, 640, 480, view), {0.33333f, 0.0f, 0.185546875f});

    applyRenderSteps(view, 640, 2.0);
    EXPECT_EQ(view.stepY, -view.stepX / 2.0);
}

TEST(PointColour, ZoomZeroMakesStepsInfinite) {
    ViewGeometry view = kDefaultView;
    view.zoom = 0.0;
    applySquareSteps(view, 64);
    ASSERT_TRUE(std::isinf(view.stepX));
    // Off the centre row and column every pixel escapes at once.
    expectSame(colourAt(0, 0, 64, 64, view), palette(1));
    // On the centre column 0 * inf is NaN, which never escapes: black.
    expectSame(colourAt(32, 0, 64, 64, view), {0, 0, 0});
    expectSame(colourAt(0, 32, 64, 64, view), {0, 0, 0});
}

TEST(PointColour, HalvingIsAnArithmeticShiftOfTheSize) {
    ViewGeometry view = kDefaultView;
    applySquareSteps(view, 1);
    // Width 1: the only column sits exactly on centerX, whatever the step.
    expectSame(colourAt(0, 0, 1, 1, view), {0.33333f, 0.0f, 0.185546875f});
    // 641 halves to 320 like 640 does.
    applySquareSteps(view, 641);
    expectSame(colourAt(320, 240, 641, 481, view), {0.33333f, 0.0f, 0.185546875f});
}
