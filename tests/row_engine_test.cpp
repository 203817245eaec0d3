// The row engine and the per-pixel path built on it must give the plain loop's count for every
// pixel, on every instruction set this processor runs, whatever order a host asks for the pixels
// in, and whichever view, frame or thread asked last.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <random>
#include <string>
#include <thread>
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
    struct Size {
        int width, height;
    };
    const Size sizes[] = {{1, 9}, {7, 7}, {9, 13}, {1281, 40}};
    struct Centre {
        double x, y, zoom;
    };
    const Centre centres[] = {{0.25, 0.0, 1e7},
                              {-0.75, 0.0, 1e9},
                              {-0.743643887, 0.131825904, 1e6},
                              {-0.2271, 0.8103, 3e4},
                              {-0.222, 0.8, 15.0}};
    std::vector<Frame> result;
    for (const Centre &centre : centres) {
        for (const Size &size : sizes) {
            result.push_back({size.width, size.height, squareView(centre.x, centre.y, centre.zoom, size.width)});
        }
    }
    return result;
}

std::vector<int> referenceCounts(const Frame &frame) {
    std::vector<int> counts;
    for (int y = 0; y < frame.height; ++y) {
        for (int x = 0; x < frame.width; ++x) {
            const vorlux::PlanePoint c = vorlux::planePoint(x, y, frame.width, frame.height, frame.view);
            counts.push_back(vorlux::escapeCountReference(c.cr, c.ci));
        }
    }
    return counts;
}

std::string where(const Frame &frame, int x, int y) {
    char text[160];
    std::snprintf(text, sizeof text, "pixel (%d, %d) of a %dx%d frame at (%a, %a) zoom %g", x, y, frame.width,
                  frame.height, frame.view.centerX, frame.view.centerY, frame.view.zoom);
    return text;
}

struct Pixel {
    int x, y;
};

std::vector<Pixel> rowOrder(const Frame &frame) {
    std::vector<Pixel> order;
    for (int y = 0; y < frame.height; ++y) {
        for (int x = 0; x < frame.width; ++x) order.push_back({x, y});
    }
    return order;
}

std::vector<Pixel> columnOrder(const Frame &frame) {
    std::vector<Pixel> order;
    for (int x = 0; x < frame.width; ++x) {
        for (int y = 0; y < frame.height; ++y) order.push_back({x, y});
    }
    return order;
}

// Square tiles, as hosts that split a frame between threads ask for them: with 5x5 tiles the walk
// along a row breaks in the middle of a run, with 32x32 tiles a run reaches into the next tile.
std::vector<Pixel> tileOrder(const Frame &frame, int tile) {
    std::vector<Pixel> order;
    for (int ty = 0; ty < frame.height; ty += tile) {
        for (int tx = 0; tx < frame.width; tx += tile) {
            for (int y = ty; y < std::min(ty + tile, frame.height); ++y) {
                for (int x = tx; x < std::min(tx + tile, frame.width); ++x) order.push_back({x, y});
            }
        }
    }
    return order;
}

std::vector<Pixel> shuffledOrder(const Frame &frame) {
    std::vector<Pixel> order = rowOrder(frame);
    std::shuffle(order.begin(), order.end(), std::mt19937_64(3));
    return order;
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
                    ASSERT_EQ(got[x], want[y * frame.width + x]) << path << ", " << where(frame, x, y);
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
        for (const auto &order : {rowOrder(frame), columnOrder(frame), tileOrder(frame, 5), tileOrder(frame, 32),
                                  shuffledOrder(frame)}) {
            for (const Pixel &pixel : order) {
                ASSERT_EQ(vorlux::pixelCount(pixel.x, pixel.y, frame.width, frame.height, frame.view),
                          want[pixel.y * frame.width + pixel.x])
                    << where(frame, pixel.x, pixel.y);
            }
        }
    }
}

// A walk that goes on along the same row of a frame with another view (another instance, or the
// next frame of an animation) must not be answered from the counts of the first view.
TEST(PixelRuns, AChangedViewInTheMiddleOfAWalkIsCountedAfresh) {
    const int width = 64;
    const ViewGeometry first = squareView(-0.2271, 0.8103, 3e4, width);
    ViewGeometry second = first;
    second.centerX += 5 * first.stepX;  // the same row, shifted by five pixels
    for (int x = 0; x < width; ++x) {
        const ViewGeometry &view = x < 10 ? first : second;
        const vorlux::PlanePoint c = vorlux::planePoint(x, 3, width, 7, view);
        ASSERT_EQ(vorlux::pixelCount(x, 3, width, 7, view), vorlux::escapeCountReference(c.cr, c.ci)) << x;
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
            for (const Pixel &pixel : rowOrder(f)) {
                wrong += vorlux::pixelCount(pixel.x, pixel.y, f.width, f.height, f.view) !=
                         counts[pixel.y * f.width + pixel.x];
            }
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
        const vorlux::PlanePoint c = vorlux::planePoint(pixel.x, pixel.y, frame.width, frame.height, frame.view);
        const float *want = vorlux::countColour(vorlux::escapeCountReference(c.cr, c.ci));
        ASSERT_TRUE(std::equal(rgb, rgb + 3, want)) << where(frame, pixel.x, pixel.y);
    }
}

}  // namespace
