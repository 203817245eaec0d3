// The escape count, and a faster computation of exactly the same count.
//
// The fast path computes the orbit with the very operations of the plain loop, in the same order,
// so every state it visits is bit-identical to the plain loop's and every escape it reports is the
// plain loop's. It stops early only when it has shown that no later state can escape, or that c lies
// inside the set with a margin; each such argument is written beside its code.
#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>

#include "fractal/exact_arithmetic.h"
#include "fractal/orbit.h"

namespace vorlux {

// Why the closed form may answer 512: an accepted c has an attracting fixed point (main cardioid)
// or 2-cycle (period-2 disc) whose multiplier has modulus at most 1 - 2^-16, a margin about 10^11
// times the rounding of the test, so c is interior and the exact orbit of 0 converges to the
// cycle. The rounded orbit is that orbit disturbed by about 1e-16 per step, which the attracting
// cycle pulls back. For a fixed point with multiplier |m| <= 0.8 this is a proof: with a the fixed
// point, |f(z) - a| = |z - a| |z + a| <= R (R + |m|), so the disc of radius R = 0.18 around a maps
// into itself with a slack of 3e-3, far above the rounding, and it holds z_1 = c, which is
// |m|^2 / 4 from a. Closer to the boundary the exhaustive test checks it on points hugging both
// curves.
bool insideCardioidOrDisc(double cr, double ci) {
    // Both shapes lie in this box; most points outside the set never reach the square root.
    if (!(cr >= -1.25 && cr <= 0.25 && std::fabs(ci) <= 0.65)) return false;
    const double bound2 = kAttractionBound * kAttractionBound;
    // The 2-cycle's multiplier is 4(c + 1).
    const double dr = cr + 1.0;
    if (dr * dr + ci * ci <= bound2 / 16.0) return true;
    // The fixed point's multiplier is 1 - sqrt(w) with w = 1 - 4c, and
    // |1 - sqrt(w)|^2 = 1 + |w| - 2 Re sqrt(w) = 1 + |w| - sqrt(2 (|w| + Re w)).
    const double wr = 1.0 - 4.0 * cr;
    const double wi = -4.0 * ci;
    const double w = std::sqrt(wr * wr + wi * wi);
    const double lhs = 1.0 + w - bound2;
    return lhs * lhs <= 2.0 * (w + wr);
}

namespace {

constexpr double kInfinity = std::numeric_limits<double>::infinity();

// Why a ball can answer 512: it traps the rounded orbit itself, the very states the plain loop
// computes. Let f(z) = z^2 + c exactly and F the rounded step (Orbit::step). For |w - a| <= r,
//   |f(w) - f(a)| = |w - a| |w + a| <= (2|a| + r) r,
// and F(w) differs from f(w) by at most 5.1 u (|w|^2 + |c|), where u = 2^-53 (three roundings in
// the real part, two in the imaginary part), plus a few times 2^-1074 where results underflow. With
// |w|^2 <= |a|^2 + (2|a| + r) r, the rounded step therefore maps the ball B(a, r) into B(F(a), r')
// with r' = (2|a| + r) r (1 + 2^-40) + 2^-48 (|a|^2 + |c|) + 1e-300: the first factor covers the
// rounding of the step at w beyond that at a, the second term both steps' rounding at a, the last
// the underflow, and all of them the rounding of r' itself. Carried along a round of L steps, F^L
// maps B(a, r) into B(F^L(a), r_L), passing through the balls B(F^k(a), r_k) in between. The search
// answers 512 only when
//   - B(F^L(a), r_L) lies inside B(a, r) (with a margin of 2^-16 of r, though the argument needs
//     none), so F^L maps the ball into itself, round after round, forever;
//   - every ball of the round lies inside the escape radius with room for the rounding of the escape
//     test, so no state in them can ever pass it;
//   - a state of the orbit lies in B(a, r); the orbit may fall in at any later step, and the search
//     then watches for that.
// Then every later state of the orbit lies in one of those balls and never escapes: the count is
// 512, by the plain loop's own arithmetic, whatever the exact orbit does.
double grownRadius(double radius, double centreMagnitude, double centreMagnitudeSquared, double cNorm) {
    return (2.0 * centreMagnitude + radius) * (radius * kRoundingCover) +
           (0x1p-48 * (centreMagnitudeSquared + cNorm) + 1e-300);
}

// 2^e for 0 <= e <= 1023, exactly.
double powerOfTwo(int e) { return std::bit_cast<double>(static_cast<std::uint64_t>(1023 + e) << 52); }

// Neighbouring pixels mostly lie in the same component, so the cycle last proven on this thread is
// the first guess for the next point. It only saves time: every proof stands on its own.
struct ProvenCycle {
    int period = 0;  // 0: none
    double x = 0.0;
    double y = 0.0;
};
thread_local ProvenCycle tLastCycle;

// The steps every point takes before the search for a proof begins.
constexpr int kPlainSteps = 8;

// The escape radius, 2: the square root of kEscapeRadiusSquared.
constexpr double kEscapeRadius = 2.0;

enum class Verdict { Undecided, Escaped, Inside };

// Steps the orbit on while it looks for a proof that c is inside.
//
// The period to try comes from the orbit: a component of period p is found where |z_p| is smaller
// than every earlier |z_k|, so each new closest approach of the orbit to 0 at step n suggests the
// period n. It is only a suggestion; nothing is concluded without the proof below. An attempt at a
// period runs in rounds of that many steps (of a multiple of it for short periods). Newton's method
// on f^L(z) = z, a = z + (f^L(z) - z) / (1 - D) with D the derivative of the round, first estimates
// a cycle point from the orbit itself; once two estimates in a row agree, the estimate becomes a
// guess carried beside the orbit, with a ball as wide as the last Newton step, and each round
// refines the guess. The extra work runs alongside the orbit, whose own steps are a chain of
// dependent operations, so it costs little.
class EscapeSearch {
public:
    EscapeSearch(const Orbit &orbit, double closest, int closestStep)
        : orbit_(orbit), cNorm_(std::fabs(orbit.cr) + std::fabs(orbit.ci)), closest_(closest),
          closestStep_(closestStep) {}

    int count() {
        if (tLastCycle.period > 0) {
            startAttempt(tLastCycle.period);
            fromLastCycle_ = true;
            startGuess(tLastCycle.x, tLastCycle.y, 0.0);
        } else {
            startAttempt(closestStep_);
        }
        while (orbit_.n < kLastState) {
            if ((stage_ != Stage::Watching && stage_ != Stage::Waiting) && orbit_.n + roundLength() > kLastState) {
                stage_ = Stage::Watching;
            }
            Verdict verdict = Verdict::Undecided;
            switch (stage_) {
            case Stage::Watching:
                verdict = watch();
                break;
            case Stage::Estimating:
                verdict = runRound<false, false>();
                break;
            case Stage::Guessing:
                verdict = runRound<true, false>();
                break;
            case Stage::Trapping:
                verdict = runRound<true, true>();
                break;
            case Stage::Waiting:
                verdict = waitForTheTrap();
                break;
            }
            if (verdict == Verdict::Escaped) return orbit_.n;
            if (verdict == Verdict::Inside) return kIterationLimit;
        }
        return kIterationLimit;
    }

private:
    // What the next steps do: plain steps until a new closest approach suggests a period; rounds
    // that estimate a cycle point from the orbit; rounds that refine a guess carried beside the
    // orbit; the same with a ball around the guess, which may turn out to be a trap; and plain
    // steps until the orbit falls into the trap found.
    enum class Stage { Watching, Estimating, Guessing, Trapping, Waiting };

    static constexpr int kShortestRound = 8;
    static constexpr int kAttemptRounds = 6;
    // Rounds an attempt may spend on estimates from the orbit that do not agree.
    static constexpr int kOrbitRounds = 3;

    int roundLength() const {
        return period_ >= kShortestRound ? period_ : period_ * ((kShortestRound + period_ - 1) / period_);
    }

    void startAttempt(int period) {
        period_ = period;
        stage_ = Stage::Estimating;
        roundsLeft_ = kAttemptRounds;
        orbitRounds_ = 0;
        fromLastCycle_ = false;
        lastNewtonStep_ = kInfinity;
        estimateX_ = kInfinity;
        estimateY_ = kInfinity;
    }

    // A guess without a Newton step to size a ball by (the last proven cycle) first goes round
    // without one.
    void startGuess(double x, double y, double radius) {
        stage_ = radius > 0.0 ? Stage::Trapping : Stage::Guessing;
        guessX_ = x;
        guessY_ = y;
        guessRadius_ = radius;
    }

    // The latest closest approach, when it came after the period (at a multiple of it, or at any
    // step while the last proven cycle was tried), suggests the next period to try; otherwise the
    // orbit goes on with plain steps until a new closest approach.
    void giveUp() {
        if (fromLastCycle_) tLastCycle.period = 0;
        if (fromLastCycle_ || closestStep_ > period_) {
            startAttempt(closestStep_);
        } else {
            stage_ = Stage::Watching;
        }
    }

    // Notes a state closer to 0 than any before; true when it suggests a new period, which the
    // caller then starts an attempt at.
    bool closerThanEver(const Orbit &orbit, double &closest) {
        const double m2 = orbit.magnitudeSquared();
        if (!(m2 < closest)) return false;
        closest = m2;
        closestStep_ = orbit.n;
        return !fromLastCycle_ && orbit.n % period_ != 0;
    }

    // Plain steps until the orbit escapes, reaches the last state, or suggests a new period.
    // The hot loops are functions of their own, with the orbit in locals, so that the compiler
    // keeps every value of the chain of steps in registers.
    [[gnu::noinline]] Verdict watch() {
        Orbit orbit = orbit_;
        double closest = closest_;
        bool newPeriod = false;
        while (orbit.n < kLastState && !newPeriod) {
            if (orbit.step()) {
                orbit_ = orbit;
                return Verdict::Escaped;
            }
            newPeriod = closerThanEver(orbit, closest);
        }
        orbit_ = orbit;
        closest_ = closest;
        if (newPeriod) startAttempt(orbit.n);
        return Verdict::Undecided;
    }

    // One round of the attempt: without a guess, the derivative is taken along the orbit itself.
    template <bool kGuess, bool kBall>
    [[gnu::noinline]] Verdict runRound() {
        const int length = roundLength();
        Orbit orbit = orbit_;
        const double orbitX = orbit.x;
        const double orbitY = orbit.y;
        Orbit guess = orbit;
        if constexpr (kGuess) guess.moveTo(guessX_, guessY_);
        const Orbit &base = kGuess ? guess : orbit;
        double derivRe = 1.0;  // the derivative of the round divided by 2^length
        double derivIm = 0.0;
        const double ballRadius = guessRadius_;
        double radius = ballRadius;
        double reach = 0.0;  // the largest |F^k(a)| + r_k of the round
        bool guessEscaped = false;
        double closest = closest_;
        for (int j = 0; j < length; ++j) {
            const double dr = derivRe * base.x - derivIm * base.y;
            const double di = derivRe * base.y + derivIm * base.x;
            derivRe = dr;
            derivIm = di;
            if constexpr (kBall) {
                const double m2 = guess.magnitudeSquared();
                const double m = std::sqrt(m2);
                reach = std::max(reach, m + radius);
                radius = grownRadius(radius, m, m2, cNorm_);
            }
            if constexpr (kGuess) guessEscaped |= guess.step();
            if (orbit.step()) {
                orbit_ = orbit;
                return Verdict::Escaped;
            }
            if (closerThanEver(orbit, closest)) {
                orbit_ = orbit;
                closest_ = closest;
                startAttempt(orbit.n);
                return Verdict::Undecided;
            }
        }
        orbit_ = orbit;
        closest_ = closest;
        // A state that repeats exactly repeats forever: the orbit is a function of the state, and
        // every state of the cycle has already passed the escape test. (States compare as values;
        // the sign of a zero never changes a later magnitude.)
        if (orbit.x == orbitX && orbit.y == orbitY) return Verdict::Inside;
        if (guessEscaped) {
            giveUp();
            return Verdict::Undecided;
        }
        const double fromX = kGuess ? guessX_ : orbitX;
        const double fromY = kGuess ? guessY_ : orbitY;
        const double moveX = base.x - fromX;
        const double moveY = base.y - fromY;
        if (kBall && isATrap(ballRadius, moveX, moveY, radius, reach)) {
            tLastCycle = {period_, guessX_, guessY_};
            if (holds(guessX_, guessY_, ballRadius, orbitX, orbitY)) return Verdict::Inside;
            trapX_ = guessX_;
            trapY_ = guessY_;
            trapRadius_ = ballRadius;
            stage_ = Stage::Waiting;
            return Verdict::Undecided;
        }
        newtonStep(fromX, fromY, moveX, moveY, derivRe * powerOfTwo(length), derivIm * powerOfTwo(length),
                   kGuess);
        return Verdict::Undecided;
    }

    // The first two conditions of the proof above, for the ball of the given radius around the
    // guess that came back moved by (moveX, moveY) with radius landed, and reached at most reach
    // from 0 on its way. The factor covers the rounding of each distance and sum; hypot neither
    // underflows nor overflows.
    bool isATrap(double ballRadius, double moveX, double moveY, double landed, double reach) const {
        const bool landsInside = (std::hypot(moveX, moveY) + landed) * kRoundingCover <= ballRadius * kAttractionBound;
        const bool staysInRadius = reach * kRoundingCover < kEscapeRadius;
        return landsInside && staysInRadius;
    }

    // The third: whether the ball holds the state (x, y). |dx| + |dy| is at least the distance.
    static bool holds(double centreX, double centreY, double radius, double x, double y) {
        return (std::fabs(x - centreX) + std::fabs(y - centreY)) * kRoundingCover <= radius;
    }

    // Plain steps, once a trap is known, until the orbit escapes, falls into the trap, or reaches the
    // last state. Any state in the trap will do: the trap holds whatever enters it at any step.
    [[gnu::noinline]] Verdict waitForTheTrap() {
        Orbit orbit = orbit_;
        const double x0 = trapX_, y0 = trapY_, r = trapRadius_;
        while (orbit.n < kLastState) {
            if (orbit.step()) {
                orbit_ = orbit;
                return Verdict::Escaped;
            }
            if (holds(x0, y0, r, orbit.x, orbit.y)) return Verdict::Inside;
        }
        orbit_ = orbit;
        return Verdict::Undecided;
    }

    // After a round from (fromX, fromY) that moved it by (moveX, moveY) with derivative D: the next
    // estimate of the cycle point, and whether the attempt goes on. A guess is given up when the
    // cycle near it repels (|D| >= 1) or its Newton steps stop shrinking fast.
    void newtonStep(double fromX, double fromY, double moveX, double moveY, double derivRe, double derivIm,
                    bool guessed) {
        --roundsLeft_;
        const double mr = 1.0 - derivRe;
        const double mi = -derivIm;
        const double inverse = 1.0 / (mr * mr + mi * mi);
        const double stepX = (moveX * mr + moveY * mi) * inverse;
        const double stepY = (moveY * mr - moveX * mi) * inverse;
        const double step = std::sqrt(stepX * stepX + stepY * stepY);
        const bool repels = derivRe * derivRe + derivIm * derivIm >= 1.0;
        const bool failing = guessed && (repels || !(step < 0.5 * lastNewtonStep_));
        lastNewtonStep_ = step;
        if (failing || !(step < 1.0) || roundsLeft_ == 0) {
            giveUp();
            return;
        }
        const double estimateX = fromX + stepX;
        const double estimateY = fromY + stepY;
        if (!guessed) {
            const double dx = estimateX - estimateX_;
            const double dy = estimateY - estimateY_;
            estimateX_ = estimateX;
            estimateY_ = estimateY;
            if (!(dx * dx + dy * dy < step * step)) {
                if (++orbitRounds_ == kOrbitRounds) giveUp();
                return;
            }
        }
        startGuess(estimateX, estimateY, step);
    }

    Orbit orbit_;
    double cNorm_;       // |cr| + |ci|, at least |c|
    double closest_;     // the smallest |z|^2 so far
    int closestStep_;    // the step where it was reached
    Stage stage_ = Stage::Watching;
    int period_ = 1;  // the period of the attempt
    int roundsLeft_ = 0;
    int orbitRounds_ = 0;
    bool fromLastCycle_ = false;
    double guessX_ = 0.0;
    double guessY_ = 0.0;
    double guessRadius_ = 0.0;  // the last Newton step
    double trapX_ = 0.0;  // a ball the rounded orbit never leaves once it is in it
    double trapY_ = 0.0;
    double trapRadius_ = 0.0;
    double lastNewtonStep_ = kInfinity;
    double estimateX_ = kInfinity;  // the last estimate taken from the orbit
    double estimateY_ = kInfinity;
};

}  // namespace

int escapeCountReference(double cr, double ci) {
    double x = 0.0;
    double y = 0.0;
    for (int n = 1; n < kIterationLimit; ++n) {
        const double nx = (x * x + cr) - y * y;
        const double ny = (x * y) * 2.0 + ci;
        // A NaN never compares >= 4, so such an orbit runs to the limit.
        if (ny * ny + nx * nx >= kEscapeRadiusSquared) return n;
        x = nx;
        y = ny;
    }
    return kIterationLimit;
}

int escapeCount(double cr, double ci) {
    // A point outside radius 2 leaves at the first step, as in the plain loop; points that escape
    // within a few steps pay only for the closed-form test.
    Orbit orbit{cr, ci};
    if (orbit.step()) return orbit.n;
    if (insideCardioidOrDisc(cr, ci)) return kIterationLimit;
    double closest = orbit.magnitudeSquared();
    int closestStep = 1;
    while (orbit.n < kPlainSteps) {
        if (orbit.step()) return orbit.n;
        if (orbit.magnitudeSquared() < closest) {
            closest = orbit.magnitudeSquared();
            closestStep = orbit.n;
        }
    }
    return EscapeSearch(orbit, closest, closestStep).count();
}

}  // namespace vorlux
