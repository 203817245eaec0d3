// Counts near the boundary at high magnification depend on every rounding of
// the orbit. If the compiler fuses a multiply and an add anywhere in the
// escape loop or the pixel mapping, this fingerprint of such counts changes.
#include <gtest/gtest.h>

#include <cstdint>

#include "fractal/fractal.h"

TEST(Contraction, BoundaryCountsMatchUnfusedArithmetic) {
    vorlux::ViewGeometry view{-0.743643887, 0.131825904, 1e6, 0.0, 0.0};
    constexpr int kSize = 160;
    vorlux::applySquareSteps(view, kSize);
    uint64_t fingerprint = 1469598103934665603ull;
    for (int y = 0; y < kSize; ++y) {
        for (int x = 0; x < kSize; ++x) {
            const double cr = (x - kSize / 2) * view.stepX + view.centerX;
            const double ci = (y - kSize / 2) * view.stepY + view.centerY;
            fingerprint = (fingerprint ^ static_cast<uint64_t>(vorlux::escapeCount(cr, ci))) * 1099511628211ull;
        }
    }
    EXPECT_EQ(fingerprint, 14653965161589522817ull);
}
