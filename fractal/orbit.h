// The orbit of 0 under z -> z^2 + c, stepped exactly as the plain loop steps it, and the closed-form
// inside test. Shared by the scalar count and the row engine; not part of the module's interface.
#pragma once

#include "fractal/fractal.h"

namespace vorlux {

// The plain loop tests the states z_1 .. z_511.
inline constexpr int kLastState = kIterationLimit - 1;

// How strongly every inside proof requires the cycle to attract: the closed form accepts
// multipliers up to this modulus, and a ball must come back inside this fraction of itself.
inline constexpr double kAttractionBound = 1.0 - 0x1p-16;

// A factor above 1 by far more than the few roundings (of 2^-53 each) of a bound computed in a
// handful of operations, so that a bound multiplied by it is a bound of the exact value.
inline constexpr double kRoundingCover = 1.0 + 0x1p-40;

// The squares of the escape test are the ones the next step needs, a reuse that changes no
// rounding, so every state is bit-identical to the plain loop's.
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

    // Makes (x, y) the current state, for an orbit that starts somewhere else than at 0.
    void moveTo(double toX, double toY) {
        x = toX;
        y = toY;
        xx = toX * toX;
        yy = toY * toY;
    }
};

// Whether c lies inside the main cardioid or the period-2 disc with the attraction margin, from
// their closed forms. Points outside both shapes' bounding box are refused before the square
// root; the row engine runs the same test on its lanes.
bool insideCardioidOrDisc(double cr, double ci);

}  // namespace vorlux
