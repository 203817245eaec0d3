// Counts near the boundary at high magnification depend on every rounding of
// the orbit. If the compiler fuses a multiply and an add anywhere in the
// escape loop, the row engine's lanes or the pixel mapping, this fingerprint
// of such counts changes.
#include <gtest/gtest.h>

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

TEST(Contraction, BoundaryCountsMatchUnfusedArithmetic) {
    const vorlux::ViewGeometry view = boundaryView();
    std::vector<int> counts;
    for (int y = 0; y < kSize; ++y) {
        for (int x = 0; x < kSize; ++x) {
            const vorlux::PlanePoint c = vorlux::planePoint(x, y, kSize, kSize, view);
            counts.push_back(vorlux::escapeCount(c.cr, c.ci));
        }
    }
    EXPECT_EQ(fingerprintOf(counts), kFingerprint);
}

TEST(Contraction, RowEngineCountsMatchUnfusedArithmeticOnEveryInstructionSet) {
    const vorlux::ViewGeometry view = boundaryView();
    for (const std::string &path : vorlux::rowEnginePaths()) {
        vorlux::chooseRowEnginePath(path);
        std::vector<int> counts(kSize * kSize);
        std::vector<double> cr(kSize);
        for (int y = 0; y < kSize; ++y) {
            vorlux::rowCounts(0, y, kSize, kSize, kSize, view, cr.data(), counts.data() + y * kSize);
        }
        EXPECT_EQ(fingerprintOf(counts), kFingerprint) << path;
    }
    vorlux::chooseRowEnginePath("");
}
