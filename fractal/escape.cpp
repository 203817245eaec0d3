// The escape count.
#include "fractal/fractal.h"

namespace vorlux {

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

int escapeCount(double cr, double ci) { return escapeCountReference(cr, ci); }

}  // namespace vorlux
