// The escape count, and a faster computation of exactly the same count.
//
// The fast path computes the orbit with the very operations of the plain loop, in the same order,
// so every state it visits is bit-identical to the plain loop's and every escape it reports is the
// plain loop's. It stops early only when it has shown that no later state can escape; each such
// argument is written beside its code.
#include <algorithm>
#include <cmath>
#include <limits>
#include <optional>

#include "fractal/fractal.h"

namespace vorlux {
namespace {

// The plain loop tests the states z_1 .. z_511.
constexpr int kLastState = kIterationLimit - 1;
constexpr double kInfinity = std::numeric_limits<double>::infinity();

// The orbit of 0 under z -> z^2 + c as the plain loop computes it. The squares of the escape test
// are the ones the next step needs, a reuse that changes no rounding.
struct Orbit {
    double cr;
    double ci;
    double x = 0.0;
    double y = 0.0;
    double xx = 0.0;
    double yy = 0.0;
    int n = 0;  // the current state is z_n

    // Moves to z_{n+1}; true when that state escaped.
    bool step() {
        const double xy = x * y;
        x = (xx + cr) - yy;
        y = xy * 2.0 + ci;
        xx = x * x;
        yy = y * y;
        ++n;
        return yy + xx >= kEscapeRadiusSquared;
    }

    double magnitudeSquared() const { return xx + yy; }
};

// Why the closed form may answer 512: an accepted c has an attracting fixed point (main cardioid)
// or 2-cycle (period-2 disc) whose multiplier has modulus at most 1 - 2^-16, a margin about 10^11
// times the rounding of the test, so c is interior and the exact orbit of 0 converges to the
// cycle. The rounded orbit is that orbit disturbed by about 1e-16 per step, which the attracting
// cycle pulls back. For a fixed point with multiplier |m| <= 0.8 this is a proof: with a the fixed
// point, |f(z) - a| = |z - a| |z + a| <= R (R + |m|), so the disc of radius R = 0.18 around a maps
// into itself with a slack of 3e-3, far above the rounding, and it holds z_1 = c, which is
// |m|^2 / 4 from a. Closer to the boundary the exhaustive test checks it on points hugging both
// curves.
constexpr double kMultiplierBound = 1.0 - 0x1p-16;

bool insideCardioidOrDisc(double cr, double ci) {
    // Both shapes lie in this box; most points outside the set never reach the square root.
    if (!(cr >= -1.25 && cr <= 0.25 && std::fabs(ci) <= 0.65)) return false;
    const double bound2 = kMultiplierBound * kMultiplierBound;
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

// Trapping a ball. Let F be the rounded step above and f(z) = z^2 + c exactly. For |w - a| <= r,
//   |f(w) - f(a)| = |w - a| |w + a| <= (2|a| + r) r,
// and each of F(w), F(a) differs from f by at most 5.1 u (|.|^2 + |c|) plus 1e-322 from underflow,
// where u = 2^-53 (three roundings in the real part, two in the imaginary part). So F maps the
// ball B(a, r) into B(F(a), r') with r' = (2|a| + r) r (1 + 2^-40) + 2^-48 (|a|^2 + |c|) + 1e-300,
// whose factors also cover the rounding of r' itself. If after p steps B(a_p, r_p) lies inside
// B(a_0, r_0), and every ball on the way lies within radius 1.999, then a state in B(a_0, r_0)
// stays in these balls forever and never escapes: its count is the limit.
double grownRadius(double radius, double centreMagnitude, double centreMagnitudeSquared, double cNorm) {
    return (2.0 * centreMagnitude + radius) * (radius * (1.0 + 0x1p-40)) +
           (0x1p-48 * (centreMagnitudeSquared + cNorm) + 1e-300);
}

// Every ball of a trap must stay this far inside the escape radius; the margin leaves the rounded
// escape test of any state in it well below 4.
constexpr double kTrapReach = 1.999;

// A ball around a centre near a periodic point, carried along one round. It starts big enough
// to hold the current state with room to spare; the floor covers a state that is the centre.
class Trap {
public:
    Trap(double cr, double ci, double centreX, double centreY, double stateX, double stateY)
        : centre_{cr, ci, centreX, centreY, centreX * centreX, centreY * centreY} {
        const double ex = stateX - centreX;
        const double ey = stateY - centreY;
        radius0_ = kRadiusFactor * std::sqrt(ex * ex + ey * ey) + kRadiusFloor;
        radius_ = radius0_;
    }

    // Moves the centre one rounded step and grows the radius to hold the image of the ball.
    void step(double cNorm) {
        const double m2 = centre_.magnitudeSquared();
        const double m = std::sqrt(m2);
        reach_ = std::max(reach_, m + radius_);
        radius_ = grownRadius(radius_, m, m2, cNorm);
        centre_.step();
    }

    // After a full round: whether the final ball lies in the first and no ball came near radius 2.
    bool holds(double centreX, double centreY) const {
        const double reach = std::max(reach_, std::sqrt(centre_.magnitudeSquared()) + radius_);
        const double ex = centre_.x - centreX;
        const double ey = centre_.y - centreY;
        const double shift = std::sqrt(ex * ex + ey * ey);
        return reach < kTrapReach && (shift + radius_) * (1.0 + 0x1p-40) <= radius0_;
    }

private:
    static constexpr double kRadiusFactor = 1.3;
    static constexpr double kRadiusFloor = 1e-12;

    Orbit centre_;  // the ball's centre, stepped like any orbit
    double radius0_;
    double radius_;
    double reach_ = 0.0;
};

// The best a round of the fast path can report.
enum class Verdict { Undecided, Escaped, Trapped };

class EscapeSearch {
public:
    EscapeSearch(double cr, double ci) : orbit_{cr, ci}, cNorm_(std::fabs(cr) + std::fabs(ci)) {}

    int count() {
        // A point outside radius 2 leaves at the first step, as in the plain loop; points that
        // escape within a few steps pay only the closed-form test.
        if (orbit_.step()) return orbit_.n;
        if (insideCardioidOrDisc(orbit_.cr, orbit_.ci)) return kIterationLimit;
        while (orbit_.n < kPlainSteps) {
            if (orbit_.step()) return orbit_.n;
        }
        while (orbit_.n < kLastState) {
            if (period_ == 0) {
                const Verdict verdict = choosePeriod();
                if (verdict == Verdict::Escaped) return orbit_.n;
                if (verdict == Verdict::Trapped) return kIterationLimit;
                continue;
            }
            if (orbit_.n + period_ > kLastState) {
                // Too few steps left for a round: finish in one last window.
                period_ = 0;
                window_ = kLastState;
                continue;
            }
            const Verdict verdict = runRound();
            if (verdict == Verdict::Escaped) return orbit_.n;
            if (verdict == Verdict::Trapped) return kIterationLimit;
        }
        return kIterationLimit;
    }

private:
    static constexpr int kPlainSteps = 4;
    static constexpr int kFirstWindow = 8;
    static constexpr int kLongestWindow = 256;
    // Multipliers this close to 1 converge too slowly to be worth a trap.
    static constexpr double kLargestMultiplier2 = 0.998;

    // Watches a window of steps for the closest return to the state it started from; the lag of
    // that return is the period to try. Windows grow, for longer periods later in the orbit.
    Verdict choosePeriod() {
        haveCentre_ = false;
        trapWait_ = 1;
        roundsToTrap_ = 2;
        const double fromX = orbit_.x;
        const double fromY = orbit_.y;
        double closest = kInfinity;
        int lag = 0;
        const int end = std::min(orbit_.n + window_, kLastState);
        for (int k = 1; orbit_.n < end; ++k) {
            if (orbit_.step()) return Verdict::Escaped;
            const double dx = orbit_.x - fromX;
            const double dy = orbit_.y - fromY;
            const double d2 = dx * dx + dy * dy;
            if (d2 < closest) {
                // A state that repeats exactly repeats forever: the orbit is a function of the
                // state, and every state of the cycle has already passed the escape test. (States
                // compare as values; the sign of a zero never changes a later magnitude.)
                if (dx == 0.0 && dy == 0.0) return Verdict::Trapped;
                closest = d2;
                lag = k;
            }
        }
        window_ = std::min(2 * window_, kLongestWindow);
        period_ = lag;
        lastReturn_ = std::sqrt(closest);
        return Verdict::Undecided;
    }

    // One round of period_ steps. Every round measures how strongly the period_-fold map contracts
    // along the orbit; most guesses fail this in their first round. The round before a trap also
    // takes the complex derivative, for a Newton step on F^p(a) = a that gives the centre of the
    // trap; a trap round carries a ball around that centre. Traps cost about a round each, so
    // after every miss the next one waits twice as long.
    Verdict runRound() {
        const bool carryTrap = haveCentre_ && roundsToTrap_ == 0;
        const bool prepareTrap = roundsToTrap_ == 1;
        const double startX = orbit_.x;
        const double startY = orbit_.y;
        double contraction2 = 1.0;  // |derivative|^2, a product of |2 z|^2
        double derivRe = 1.0;
        double derivIm = 0.0;
        std::optional<Trap> trap;
        if (carryTrap) trap.emplace(orbit_.cr, orbit_.ci, centreX_, centreY_, startX, startY);
        for (int j = 0; j < period_; ++j) {
            contraction2 *= 4.0 * orbit_.magnitudeSquared();
            if (prepareTrap) {
                const double dr = derivRe * orbit_.x - derivIm * orbit_.y;
                const double di = derivRe * orbit_.y + derivIm * orbit_.x;
                derivRe = 2.0 * dr;
                derivIm = 2.0 * di;
            }
            if (trap) trap->step(cNorm_);
            if (orbit_.step()) return Verdict::Escaped;
        }
        const double dx = orbit_.x - startX;
        const double dy = orbit_.y - startY;
        if (dx == 0.0 && dy == 0.0) return Verdict::Trapped;  // an exact cycle, as above
        if (trap) {
            if (trap->holds(centreX_, centreY_)) return Verdict::Trapped;
            trapWait_ *= 2;
            roundsToTrap_ = trapWait_;
            haveCentre_ = false;
        } else {
            --roundsToTrap_;
        }
        // Keep the period only while the orbit closes in on an attracting cycle.
        const double returnDistance = std::sqrt(dx * dx + dy * dy);
        if (!(contraction2 < kLargestMultiplier2) || !(returnDistance < kShrinkTolerance * lastReturn_)) {
            period_ = 0;
            return Verdict::Undecided;
        }
        lastReturn_ = returnDistance;
        if (prepareTrap) {
            // Newton: a = z + (F^p(z) - z) / (1 - derivative).
            const double mr = 1.0 - derivRe;
            const double mi = -derivIm;
            const double mm = mr * mr + mi * mi;
            centreX_ = startX + (dx * mr + dy * mi) / mm;
            centreY_ = startY + (dy * mr - dx * mi) / mm;
            haveCentre_ = true;
        }
        return Verdict::Undecided;
    }

    // A return may grow a little while the orbit spirals in.
    static constexpr double kShrinkTolerance = 1.5;

    Orbit orbit_;
    double cNorm_;  // |cr| + |ci|, at least |c|
    int window_ = kFirstWindow;
    int period_ = 0;
    double lastReturn_ = kInfinity;
    bool haveCentre_ = false;
    int trapWait_ = 1;      // rounds to wait after the next missed trap
    int roundsToTrap_ = 2;  // rounds before the next trap is carried
    double centreX_ = 0.0;
    double centreY_ = 0.0;
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

int escapeCount(double cr, double ci) { return EscapeSearch(cr, ci).count(); }

}  // namespace vorlux
