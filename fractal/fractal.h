// Escape-time colouring of the Mandelbrot set and the rules that set a view's
// pixel steps. Everything here is pure arithmetic on doubles and must stay
// bit-exact: this code is compiled with -ffp-contract=off, because a fused
// multiply-add changes orbits and therefore counts and colours.
#pragma once

namespace vorlux {

inline constexpr int kIterationLimit = 512;
inline constexpr double kEscapeRadiusSquared = 4.0;
inline constexpr double kViewSpan = 3.2;

struct ViewGeometry {
    double centerX;
    double centerY;
    double zoom;
    double stepX;
    double stepY;
};

// Iterations until the orbit of c = cr + i*ci leaves radius 2, in 1..512;
// 512 means the point is taken to lie inside the set. Exactly the count of
// escapeCountReference, found faster.
int escapeCount(double cr, double ci);

// The same count by the plain loop: the definition the fast count must match.
int escapeCountReference(double cr, double ci);

// Colour of an escape count (1..511) from the cyclic seven-entry palette.
void paletteColour(int count, float rgb[3]);

// Colour of pixel (px, py) of a width x height target seen through view.
// Writes all three components.
void pointColour(double px, double py, int width, int height, const ViewGeometry &view, float rgb[3]);

// Steps of a rendered frame: the vertical step follows the host's pixel aspect.
void applyRenderSteps(ViewGeometry &view, int width, double pixelAspect);

// Steps of the preview and the thumbnails, whose pixels are square.
void applySquareSteps(ViewGeometry &view, int width);

}  // namespace vorlux
