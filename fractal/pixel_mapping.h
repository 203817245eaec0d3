// The point of the plane a pixel shows, for the fractal code's own hot paths, which map every
// pixel and must not pay a call for it. Only code built with the fractal code's flags may
// include it: the mapping is rounded like every other double operation there.
#pragma once

#include "fractal/exact_arithmetic.h"
#include "fractal/fractal.h"

namespace vorlux {

inline PlanePoint mapPixel(double px, double py, int width, int height, const ViewGeometry &view) {
    // The halving is an arithmetic shift of the size: 641 halves to 320 like 640.
    return {(px - (width >> 1)) * view.stepX + view.centerX, (py - (height >> 1)) * view.stepY + view.centerY};
}

}  // namespace vorlux
