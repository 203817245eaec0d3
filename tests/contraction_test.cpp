// A fused multiply-add rounds once where the plain loop and the mapping round
// twice. The orbit's steps reuse each square they compute, which leaves a
// compiler that contracts nothing to fuse there that would change a value, but
// a change to the code can (a multiply-add in the lanes, a square computed
// twice), and the mapping from pixels to the plane is fused by any compiler
// allowed to: the fingerprint of counts near the boundary at high
// magnification guards the first, the mapping's own bits the second.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include "fractal/fractal.h"
#include "fractal/row_engine.h"

namespace {

constexpr int kSize = 160;
constexpr uint64_t kFingerprint = 14653965161589522817ull;

vorlux::ViewGeometry boundaryView() {
    vorlux::ViewGeometry view{-0.743643887, 0.131825904, 1e6, 0.0, 0.0};
    vorlux::applySquareSteps(view, kSize);
    return view;
}

uint64_t fingerprintOf(const std::vector<int> &counts) {
    uint64_t fingerprint = 1469598103934665603ull;
    for (const int count : counts) fingerprint = (fingerprint ^ static_cast<uint64_t>(count)) * 1099511628211ull;
    return fingerprint;
}

}  // namespace

TEST(Contraction, BoundaryCountsMatchUnfusedArithmeticPerPixelAndOnEveryInstructionSet) {
    const vorlux::ViewGeometry view = boundaryView();
    std::vector<int> counts;
    for (int y = 0; y < kSize; ++y) {
        for (int x = 0; x < kSize; ++x) {
            const vorlux::PlanePoint c = vorlux::planePoint(x, y, kSize, kSize, view);
            counts.push_back(vorlux::escapeCount(c.cr, c.ci));
        }
    }
    EXPECT_EQ(fingerprintOf(counts), kFingerprint);
    std::vector<double> cr(kSize);
    for (const std::string &path : vorlux::rowEnginePaths()) {
        vorlux::chooseRowEnginePath(path);
        std::vector<int> rows(kSize * kSize);
        for (int y = 0; y < kSize; ++y) {
            vorlux::rowCounts(0, y, kSize, kSize, kSize, view, cr.data(), rows.data() + y * kSize);
        }
        EXPECT_EQ(fingerprintOf(rows), kFingerprint) << path;
    }
    vorlux::chooseRowEnginePath("");
}

// This file is compiled without contraction, so the expression below is the
// product and the sum rounded apart. The view makes the product large beside
// the centre, where the fused result differs from it for many pixels.
TEST(Contraction, PlanePointRoundsTheProductAndTheSumApart) {
    constexpr int kWidth = 1280, kHeight = 720;
    vorlux::ViewGeometry view{1e-3, -1e-3, 0.7, 0.0, 0.0};
    vorlux::applySquareSteps(view, kWidth);
    int fusedWouldDiffer = 0;
    for (int y = 0; y < kHeight; y += 9) {
        for (int x = 0; x < kWidth; ++x) {
            const double dx = x - (kWidth >> 1);
            const double dy = y - (kHeight >> 1);
            const vorlux::PlanePoint c = vorlux::planePoint(x, y, kWidth, kHeight, view);
            ASSERT_EQ(c.cr, dx * view.stepX + view.centerX) << x;
            ASSERT_EQ(c.ci, dy * view.stepY + view.centerY) << y;
            fusedWouldDiffer += std::fma(dx, view.stepX, view.centerX) != c.cr;
        }
    }
    EXPECT_GT(fusedWouldDiffer, 1000);
}
