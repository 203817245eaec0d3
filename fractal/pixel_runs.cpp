#include "fractal/pixel_runs.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>

#include "fractal/pixel_mapping.h"

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
    double cr[kRunLength] = {};
    int counts[kRunLength] = {};
    int size = 0;  // 0 after a call answered without a run
    // The entry the next pixel of the walk looks up: the last call was pixel firstPx + next - 1
    // of the row at ci.
    int next = 0;
    double firstPx = std::numeric_limits<double>::quiet_NaN();
};

// Initialised by constants, so reaching it costs no check whether this thread has set it up.
constinit thread_local RowRun tRun;

// A call the run did not answer. It starts a run on the second pixel of a walk along a row, and
// a run never passes the end of the frame's row; any other call is counted on its own. It takes
// the run by reference, and is never specialised for tRun, so that the thread's run is looked up
// once per call: in a module, each look-up is a call into the dynamic linker.
[[gnu::noipa]] int countAfresh(RowRun &run, PlanePoint c, double px, double py, int width, int height,
                               const ViewGeometry &view) {
    const bool walking = sameBits(c.ci, run.ci) && px == run.firstPx + run.next;
    run.ci = c.ci;
    run.firstPx = px;
    run.next = 1;
    if (!walking || !(px >= 0.0 && px < width)) {
        run.size = 0;
        return escapeCount(c.cr, c.ci);
    }
    run.size = static_cast<int>(std::min<double>(kRunLength, std::ceil(width - px)));
    rowCounts(px, py, run.size, width, height, view, run.cr, run.counts);
    return run.counts[0];
}

}  // namespace

int pixelCount(double px, double py, int width, int height, const ViewGeometry &view) {
    const PlanePoint c = mapPixel(px, py, width, height, view);
    RowRun &run = tRun;
    if (run.next < run.size && sameBits(c.cr, run.cr[run.next]) && sameBits(c.ci, run.ci)) {
        return run.counts[run.next++];
    }
    return countAfresh(run, c, px, py, width, height, view);
}

void pointColour(double px, double py, int width, int height, const ViewGeometry &view, float rgb[3]) {
    const float *colour = countColour(pixelCount(px, py, width, height, view));
    rgb[0] = colour[0];
    rgb[1] = colour[1];
    rgb[2] = colour[2];
}

}  // namespace vorlux
