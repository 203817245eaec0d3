// The escape count of one pixel for callers that ask pixel by pixel, as a host's renderer does.
#pragma once

#include "fractal/fractal.h"

namespace vorlux {

// The escape count of the point pixel (px, py) shows; exactly escapeCount's. When the calls on
// this thread walk along a row, the next pixels of the row are counted at once by the row engine
// and the following calls are answered from them. Allocates nothing; any thread may call it.
int pixelCount(double px, double py, int width, int height, const ViewGeometry &view);

}  // namespace vorlux
