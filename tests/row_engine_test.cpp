// The row engine and the per-pixel path built on it must give the plain loop's count for every
// pixel, on every instruction set this processor runs, whatever order a host asks for the pixels
// in, and whichever view, frame or thread asked last.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <random>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "fractal/fractal.h"
#include "fractal/pixel_runs.h"
#include "fractal/row_engine.h"

namespace {

using vorlux::ViewGeometry;

struct Frame {
    int width, height;
    ViewGeometry view;
};

struct Pixel {
    int x, y;
};

ViewGeometry squareView(double centreX, double centreY, double zoom, int width) {
    ViewGeometry view{centreX, centreY, zoom, 0.0, 0.0};
    vorlux::applySquareSteps(view, width);
    return view;
}

// Odd widths (a single column, fewer pixels than lanes, one more than a vector pair, one more
// than a 1280 row) on views hugging the set's boundary: the cusp of the cardioid, the point
// where the disc meets it, a minibrot and the edge the built-in scene zooms into, where neighbouring
// pixels take hundreds of steps and counts change from pixel to pixel.
std::vector<Frame> frames() {
    const std::pair<int, int> sizes[] = {{1, 9}, {7, 7}, {9, 13}, {1281, 40}};
    const std::tuple<double, double, double> centres[] = {
        {0.25, 0.0, 1e7}, {-0.75, 0.0, 1e9}, {-0.743643887, 0.131825904, 1e6}, {-0.2271, 0.8103, 3e4},
        {-0.222, 0.8, 15.0}};
    std::vector<Frame> result;
    for (const auto &[x, y, zoom] : centres) {
        for (const auto &[width, height] : sizes) result.push_back({width, height, squareView(x, y, zoom, width)});
    }
    return result;
}

int referenceCount(const Frame &frame, const Pixel &pixel) {
    const vorlux::PlanePoint c = vorlux::planePoint(pixel.x, pixel.y, frame.width, frame.height, frame.view);
    return vorlux::escapeCountReference(c.cr, c.ci);
}

int pixelCount(const Frame &frame, const Pixel &pixel) {
    return vorlux::pixelCount(pixel.x, pixel.y, frame.width, frame.height, frame.view);
}

std::string where(const Frame &frame, const Pixel &pixel) {
    char text[160];
    std::snprintf(text, sizeof text, "pixel (%d, %d) of a %dx%d frame at (%a, %a) zoom %g", pixel.x, pixel.y,
                  frame.width, frame.height, frame.view.centerX, frame.view.centerY, frame.view.zoom);
    return text;
}

// Tiles walked one after another, each row by row, as hosts that split a frame between threads ask
// for pixels: one tile of the whole frame is the row order and tiles one column wide the column
// order; with 5x5 tiles the walk along a row breaks in the middle of a run, with 32x32 tiles a run
// reaches into the next tile.
std::vector<Pixel> tileOrder(const Frame &frame, int tileWidth, int tileHeight) {
    std::vector<Pixel> order;
    for (int ty = 0; ty < frame.height; ty += tileHeight) {
        for (int tx = 0; tx < frame.width; tx += tileWidth) {
            for (int y = ty; y < std::min(ty + tileHeight, frame.height); ++y) {
                for (int x = tx; x < std::min(tx + tileWidth, frame.width); ++x) order.push_back({x, y});
            }
        }
    }
    return order;
}

std::vector<Pixel> rowOrder(const Frame &frame) { return tileOrder(frame, frame.width, frame.height); }

std::vector<Pixel> shuffledOrder(const Frame &frame) {
    std::vector<Pixel> order = rowOrder(frame);
    std::shuffle(order.begin(), order.end(), std::mt19937_64(3));
    return order;
}

std::vector<int> referenceCounts(const Frame &frame) {
    std::vector<int> counts;
    for (const Pixel &pixel : rowOrder(frame)) counts.push_back(referenceCount(frame, pixel));
    return counts;
}

TEST(RowEngine, EveryInstructionSetGivesThePlainLoopsCounts) {
    const std::vector<std::string> paths = vorlux::rowEnginePaths();
    ASSERT_FALSE(paths.empty());
    for (const Frame &frame : frames()) {
        const std::vector<int> want = referenceCounts(frame);
        std::vector<double> cr(frame.width);
        std::vector<int> got(frame.width);
        for (const std::string &path : paths) {
            vorlux::chooseRowEnginePath(path);
            ASSERT_EQ(vorlux::rowEnginePath(), path);
            for (int y = 0; y < frame.height; ++y) {
                vorlux::rowCounts(0, y, frame.width, frame.width, frame.height, frame.view, cr.data(), got.data());
                for (int x = 0; x < frame.width; ++x) {
                    ASSERT_EQ(got[x], want[y * frame.width + x]) << path << ", " << where(frame, {x, y});
                }
            }
        }
    }
    vorlux::chooseRowEnginePath("");
    EXPECT_EQ(vorlux::rowEnginePath(), paths.front());
}

TEST(PixelRuns, AnyOrderOfCallsGivesThePlainLoopsCounts) {
    for (const Frame &frame : frames()) {
        const std::vector<int> want = referenceCounts(frame);
        for (const auto &order : {rowOrder(frame), tileOrder(frame, 1, frame.height), tileOrder(frame, 5, 5),
                                  tileOrder(frame, 32, 32), shuffledOrder(frame)}) {
            for (const Pixel &pixel : order) {
                ASSERT_EQ(pixelCount(frame, pixel), want[pixel.y * frame.width + pixel.x]) << where(frame, pixel);
            }
        }
    }
}

// A walk that goes on along the same row of a frame with another view (another instance, or the
// next frame of an animation) must not be answered from the counts of the first view.
TEST(PixelRuns, AChangedViewInTheMiddleOfAWalkIsCountedAfresh) {
    const Frame first{64, 7, squareView(-0.2271, 0.8103, 3e4, 64)};
    Frame second = first;
    second.view.centerX += 5 * first.view.stepX;  // the same row, shifted by five pixels
    for (int x = 0; x < first.width; ++x) {
        const Frame &frame = x < 10 ? first : second;
        ASSERT_EQ(pixelCount(frame, {x, 3}), referenceCount(frame, {x, 3})) << x;
    }
}

TEST(PixelRuns, ThreadsWalkingDifferentViewsKeepTheirOwnCounts) {
    const Frame frame = frames().back();
    const std::vector<int> want = referenceCounts(frame);
    Frame shifted = frame;
    shifted.view.centerY += 0.5 * frame.view.stepY;  // every row between two rows of the first
    const std::vector<int> wantShifted = referenceCounts(shifted);
    int mismatches[2] = {0, 0};
    const auto walk = [](const Frame &f, const std::vector<int> &counts, int &wrong) {
        for (int repeat = 0; repeat < 3; ++repeat) {
            for (const Pixel &pixel : rowOrder(f)) wrong += pixelCount(f, pixel) != counts[pixel.y * f.width + pixel.x];
        }
    };
    std::thread other(walk, std::cref(shifted), std::cref(wantShifted), std::ref(mismatches[1]));
    walk(frame, want, mismatches[0]);
    other.join();
    EXPECT_EQ(mismatches[0], 0);
    EXPECT_EQ(mismatches[1], 0);
}

TEST(PixelRuns, PointColourIsTheColourOfThePixelsCount) {
    const Frame frame = frames().back();
    for (const Pixel &pixel : rowOrder(frame)) {
        float rgb[3];
        vorlux::pointColour(pixel.x, pixel.y, frame.width, frame.height, frame.view, rgb);
        const float *want = vorlux::countColour(referenceCount(frame, pixel));
        ASSERT_TRUE(std::equal(rgb, rgb + 3, want)) << where(frame, pixel);
    }
}

}  // namespace
