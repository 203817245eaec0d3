// The row engine: escape counts of a run of points on one row, several points at a time.
//
// Each lane of a vector steps one point's orbit with the plain loop's operations in the plain
// loop's order (a multiply, add and subtract each rounded on its own; nothing fused, reassociated
// or approximated), so every state a lane visits is bit-identical to the scalar orbit's and every
// escape it sees is the plain loop's. Every point first takes kFirstSteps steps in a vector of its
// own, beside the closed-form inside test: most points outside the set escape there, and paying
// for the few steps their vector runs on after they escape is cheaper than refilling a lane. Each
// point still undecided then takes a lane, and a lane whose point escapes takes the next point of
// the run at once, so no lane waits for the slowest point. A point stays in its lane until it
// escapes or reaches the limit. (Handing the orbits still inside after a number of steps to the
// scalar search for an inside proof was slower at every hand-over step tried, with the lane's
// exact state or from the start, and so was watching the lanes for an orbit that repeats a state
// exactly: the lanes step the rest of an orbit faster than the search proves it.)
//
// Highway compiles this file once per instruction set (foreach_target.h) and the first call
// picks the widest one the processor runs.
// A vector of lanes lives in a struct, which the sizeless vector types of SVE and RVV cannot;
// ARM64 gets its lanes from NEON.
#define HWY_DISABLED_TARGETS (HWY_SVE | HWY_SVE2 | HWY_SVE_256 | HWY_SVE2_128 | HWY_RVV)
#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "fractal/row_engine.cpp"
#include <hwy/foreach_target.h>  // must come before highway.h
#include <hwy/highway.h>

#include <algorithm>
#include <cstddef>
#include <limits>

#include "fractal/exact_arithmetic.h"
#include "fractal/orbit.h"
#include "fractal/row_engine.h"

#ifndef VORLUX_ROW_ENGINE_ONCE
#define VORLUX_ROW_ENGINE_ONCE
namespace vorlux {
namespace {

// Points per call of a lane kernel; longer runs are cut into pieces of this size.
constexpr int kPieceSize = 256;

// The steps every point takes in a vector of its own before the lanes refill.
constexpr int kFirstSteps = 16;

}  // namespace
}  // namespace vorlux
#endif

HWY_BEFORE_NAMESPACE();
namespace vorlux {
namespace HWY_NAMESPACE {
namespace hn = hwy::HWY_NAMESPACE;

using D = hn::ScalableTag<double>;
using V = hn::Vec<D>;
// The most lanes of this instruction set (scalable vectors may have fewer).
constexpr std::size_t kMaxLanes = HWY_LANES(double);

// Orbit::step on a vector of points, operation for operation.
HWY_INLINE void stepOrbits(const D d, const V cr, const V ci, V &x, V &y, V &xx, V &yy) {
    const V xy = x * y;
    x = (xx + cr) - yy;
    y = xy * hn::Set(d, 2.0) + ci;
    xx = x * x;
    yy = y * y;
}

// Points whose orbits the first steps left undecided, with the state those steps reached.
struct PendingPoints {
    int size = 0;
    int index[kPieceSize];  // the point's index in the run
    double x[kPieceSize];
    double y[kPieceSize];
    double xx[kPieceSize];
    double yy[kPieceSize];
};

// The closed form and the first kFirstSteps steps from 0, over whole vectors of points and without
// refilling: most points that escape soon escape here, where a finished point costs nothing but
// its lane's share of the vector's remaining steps, and a vector whose points are all decided
// stops at once. What is decided here never takes a lane; the rest is listed in pending.
void decideFirst(const double *HWY_RESTRICT cr, int size, double ci, int *HWY_RESTRICT counts,
                 PendingPoints &pending) {
    const D d;
    const int lanes = static_cast<int>(hn::Lanes(d));
    const V zero = hn::Zero(d);
    const V vci = hn::Set(d, ci);
    const V radius2 = hn::Set(d, kEscapeRadiusSquared);
    const V bound2 = hn::Set(d, kAttractionBound * kAttractionBound);
    HWY_ALIGN double verdicts[kMaxLanes];
    HWY_ALIGN double xs[kMaxLanes], ys[kMaxLanes], xxs[kMaxLanes], yys[kMaxLanes];
    pending.size = 0;
    for (int i = 0; i < size; i += lanes) {
        // The last vector may reach past the run: its extra lanes count 0, and are not read.
        HWY_ALIGN double tail[kMaxLanes] = {};
        if (i + lanes > size) std::copy(cr + i, cr + size, tail);
        const V vcr = i + lanes > size ? hn::Load(d, tail) : hn::LoadU(d, cr + i);
        // Orbit::step from z_0 = 0.
        V x = (zero * zero + vcr) - zero * zero;
        V y = (zero * zero) * hn::Set(d, 2.0) + vci;
        V xx = x * x;
        V yy = y * y;
        const auto escaped = yy + xx >= radius2;
        // insideCardioidOrDisc, operation for operation.
        const auto inBox = hn::And(hn::And(vcr >= hn::Set(d, -1.25), vcr <= hn::Set(d, 0.25)),
                                   hn::Abs(vci) <= hn::Set(d, 0.65));
        const V dr = vcr + hn::Set(d, 1.0);
        const auto inDisc = dr * dr + vci * vci <= bound2 / hn::Set(d, 16.0);
        const V wr = hn::Set(d, 1.0) - hn::Set(d, 4.0) * vcr;
        const V wi = hn::Set(d, -4.0) * vci;
        const V w = hn::Sqrt(wr * wr + wi * wi);
        const V lhs = (hn::Set(d, 1.0) + w) - bound2;
        const auto inCardioid = lhs * lhs <= hn::Set(d, 2.0) * (w + wr);
        const auto inside = hn::AndNot(escaped, hn::And(inBox, hn::Or(inDisc, inCardioid)));
        V verdict = hn::IfThenElseZero(escaped, hn::Set(d, 1.0)) +
                    hn::IfThenElseZero(inside, hn::Set(d, static_cast<double>(kIterationLimit)));
        auto decided = hn::Or(escaped, inside);
        for (int n = 2; n <= kFirstSteps && !hn::AllTrue(d, decided); ++n) {
            stepOrbits(d, vcr, vci, x, y, xx, yy);
            const auto escapedNow = hn::AndNot(decided, yy + xx >= radius2);
            verdict = hn::IfThenElse(escapedNow, hn::Set(d, static_cast<double>(n)), verdict);
            decided = hn::Or(decided, escapedNow);
        }
        hn::Store(verdict, d, verdicts);
        hn::Store(x, d, xs);
        hn::Store(y, d, ys);
        hn::Store(xx, d, xxs);
        hn::Store(yy, d, yys);
        for (int j = 0; j < lanes && i + j < size; ++j) {
            if (verdicts[j] != 0.0) {
                counts[i + j] = static_cast<int>(verdicts[j]);
                continue;
            }
            const int k = pending.size++;
            pending.index[k] = i + j;
            pending.x[k] = xs[j];
            pending.y[k] = ys[j];
            pending.xx[k] = xxs[j];
            pending.yy[k] = yys[j];
        }
    }
}

// Two vectors of lanes step side by side: one orbit step is a chain of dependent operations, and
// the second vector's chain fills the first one's waits.
constexpr int kVectors = 2;

// Every lane's state, as plain values: the vectors go here and back only when a lane's point
// is finished, which is when the scalar code has to look at single lanes anyway.
struct LaneStates {
    static constexpr std::size_t kSize = kVectors * kMaxLanes;
    HWY_ALIGN double cr[kSize];
    HWY_ALIGN double x[kSize];
    HWY_ALIGN double y[kSize];
    HWY_ALIGN double xx[kSize];
    HWY_ALIGN double yy[kSize];
    HWY_ALIGN double n[kSize];
    HWY_ALIGN double point[kSize];  // the point's index in the run; -1: the lane is idle

    // The lane takes pending point k where the first steps left it.
    void start(int lane, const double *HWY_RESTRICT runCr, const PendingPoints &pending, int k) {
        point[lane] = pending.index[k];
        cr[lane] = runCr[pending.index[k]];
        x[lane] = pending.x[k];
        y[lane] = pending.y[k];
        xx[lane] = pending.xx[k];
        yy[lane] = pending.yy[k];
        n[lane] = kFirstSteps;
    }

    // An idle lane steps the orbit of a NaN, which never passes the escape test, so it never
    // stops the others.
    void idle(int lane) {
        point[lane] = -1.0;
        cr[lane] = std::numeric_limits<double>::quiet_NaN();
        x[lane] = y[lane] = xx[lane] = yy[lane] = n[lane] = 0.0;
    }

    // The steps every lane can take before a working one reaches the last state.
    int room() const {
        double latest = 0.0;
        for (std::size_t lane = 0; lane < kSize; ++lane) {
            if (point[lane] >= 0.0) latest = std::max(latest, n[lane]);
        }
        return kLastState - static_cast<int>(latest);
    }
};

// One vector of lanes, in registers. Its lanes all take the same number of steps, so their
// step counts stay in LaneStates.
struct Lanes {
    V cr, x, y, xx, yy;

    Lanes(const D d, const LaneStates &s, std::size_t first)
        : cr(hn::Load(d, s.cr + first)), x(hn::Load(d, s.x + first)), y(hn::Load(d, s.y + first)),
          xx(hn::Load(d, s.xx + first)), yy(hn::Load(d, s.yy + first)) {}

    // True when a lane escaped.
    HWY_INLINE bool step(const D d, const V ci) {
        stepOrbits(d, cr, ci, x, y, xx, yy);
        return !hn::AllFalse(d, yy + xx >= hn::Set(d, kEscapeRadiusSquared));
    }

    void store(const D d, LaneStates &s, std::size_t first) const {
        hn::Store(x, d, s.x + first);
        hn::Store(y, d, s.y + first);
        hn::Store(xx, d, s.xx + first);
        hn::Store(yy, d, s.yy + first);
    }
};

void countRun(const double *HWY_RESTRICT cr, int size, double ci, int *HWY_RESTRICT counts) {
    PendingPoints pending;
    decideFirst(cr, size, ci, counts, pending);
    if (pending.size == 0) return;

    const D d;
    const std::size_t lanes = hn::Lanes(d);
    const int allLanes = static_cast<int>(kVectors * lanes);
    LaneStates s;
    int next = 0;
    int busy = 0;
    for (int j = 0; j < allLanes; ++j) {
        if (next < pending.size) {
            s.start(j, cr, pending, next++);
            ++busy;
        } else {
            s.idle(j);
        }
    }

    const V vci = hn::Set(d, ci);
    while (busy > 0) {
        // Steps until a lane escapes, or until a lane reaches the last state.
        const int room = s.room();
        Lanes first(d, s, 0);
        Lanes second(d, s, lanes);
        int steps = 0;
        while (steps < room) {
            ++steps;
            const bool firstEscaped = first.step(d, vci);
            const bool secondEscaped = second.step(d, vci);
            if (firstEscaped || secondEscaped) break;
        }
        first.store(d, s, 0);
        second.store(d, s, lanes);
        for (int j = 0; j < allLanes; ++j) {
            if (s.point[j] < 0.0) continue;
            s.n[j] += steps;
            const int index = static_cast<int>(s.point[j]);
            if (s.yy[j] + s.xx[j] >= kEscapeRadiusSquared) {
                counts[index] = static_cast<int>(s.n[j]);
            } else if (s.n[j] >= kLastState) {
                counts[index] = kIterationLimit;
            } else {
                continue;
            }
            if (next < pending.size) {
                s.start(j, cr, pending, next++);
            } else {
                s.idle(j);
                --busy;
            }
        }
    }
}

const char *pathName() { return hwy::TargetName(HWY_TARGET); }

}  // namespace HWY_NAMESPACE
}  // namespace vorlux
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
namespace vorlux {

HWY_EXPORT(countRun);
HWY_EXPORT(pathName);

void escapeCountRow(const double *cr, int size, double ci, int *counts) {
    for (int first = 0; first < size; first += kPieceSize) {
        HWY_DYNAMIC_DISPATCH(countRun)(cr + first, std::min(kPieceSize, size - first), ci, counts + first);
    }
}

const char *rowEnginePath() { return HWY_DYNAMIC_DISPATCH(pathName)(); }

std::vector<std::string> rowEnginePaths() {
    std::vector<std::string> names;
    for (const std::int64_t target : hwy::SupportedAndGeneratedTargets()) names.push_back(hwy::TargetName(target));
    return names;
}

void chooseRowEnginePath(const std::string &name) {
    hwy::SetSupportedTargetsForTest(0);  // every target again, to look the name up among
    std::int64_t chosen = 0;
    for (const std::int64_t target : hwy::SupportedAndGeneratedTargets()) {
        if (name == hwy::TargetName(target)) chosen = target;
    }
    hwy::SetSupportedTargetsForTest(chosen);
    hwy::GetChosenTarget().Update(hwy::SupportedTargets());
}

}  // namespace vorlux
#endif
