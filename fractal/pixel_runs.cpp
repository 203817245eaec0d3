#include "fractal/pixel_runs.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>

#include "fractal/exact_arithmetic.h"

namespace vorlux {
namespace {

// Pixels counted at once when the calls walk along a row. Long enough to keep every lane busy
// most of the time, short enough that a host splitting rows into tiles between threads loses
// little to pixels of a neighbouring tile.
constexpr int kRunLength = 32;

bool sameBits(double a, double b) { return std::bit_cast<std::uint64_t>(a) == std::bit_cast<std::uint64_t>(b); }

// The counts of the last run, keyed by the exact point each pixel mapped to. A count is a
// function of its point alone, so an entry can only ever answer the pixel that maps to that very
// point: whatever view, frame or instance it came from, the count is the right one. The store is
// per thread, so threads never see each other's runs.
struct RowRun {
    double ci = 0.0;
    double cr[kRunLength];
    int counts[kRunLength];
    int size = 0;
    int next = 0;  // the entry the next pixel of the walk looks up
    // The previous call, to see a walk along a row.
    double lastPx = 0.0;
    double lastCi = 0.0;
    bool hasLast = false;
};

thread_local RowRun tRun;

}  // namespace

int pixelCount(double px, double py, int width, int height, const ViewGeometry &view) {
    const PlanePoint c = planePoint(px, py, width, height, view);
    RowRun &run = tRun;
    const bool walking = run.hasLast && sameBits(c.ci, run.lastCi) && px == run.lastPx + 1.0;
    run.lastPx = px;
    run.lastCi = c.ci;
    run.hasLast = true;
    if (walking && run.next < run.size && sameBits(c.cr, run.cr[run.next]) && sameBits(c.ci, run.ci)) {
        return run.counts[run.next++];
    }
    run.size = 0;
    // A run starts on the second pixel of a walk and never passes the end of the frame's row.
    if (!walking || !(px >= 0.0 && px < width)) return escapeCount(c.cr, c.ci);
    const int size = static_cast<int>(std::min<double>(kRunLength, std::ceil(width - px)));
    rowCounts(px, py, size, width, height, view, run.cr, run.counts);
    run.ci = c.ci;
    run.size = size;
    run.next = 1;
    return run.counts[0];
}

}  // namespace vorlux
