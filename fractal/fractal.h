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

// The point of the plane that pixel (px, py) of a width x height target shows through view.
struct PlanePoint {
    double cr;
    double ci;
};
// Compiled with the fractal code's flags, so that every caller maps a pixel with the rounding the
// renderer uses (the fractal code's own hot paths inline the same mapping, fractal/pixel_mapping.h).
PlanePoint planePoint(double px, double py, int width, int height, const ViewGeometry &view);

// Colour of any count, 1..512: the palette's, or black for points taken to lie inside the set.
// The three floats live as long as the module.
const float *countColour(int count);

// Colour of pixel (px, py) of a width x height target seen through view.
// Writes all three components. When the calls on a thread walk along a row,
// it counts the next pixels of the row at once and answers the following
// calls from them (see pixel_runs.cpp).
void pointColour(double px, double py, int width, int height, const ViewGeometry &view, float rgb[3]);

// The escape counts of the size pixels (px, py), (px + 1, py), ... of a row, through the row
// engine, with the real parts of their points in cr.
void rowCounts(double px, double py, int size, int width, int height, const ViewGeometry &view, double *cr,
               int *counts);

// Colours a whole width x height target, row by row, and hands each pixel's
// colour to paint(x, y, rgb). For callers that draw whole rasters (the preview,
// the thumbnails): it runs the row engine directly. Allocates nothing.
template <typename Paint>
void paintRaster(int width, int height, const ViewGeometry &view, Paint &&paint) {
    constexpr int kPiece = 256;
    double cr[kPiece];
    int counts[kPiece];
    for (int y = 0; y < height; ++y) {
        for (int first = 0; first < width; first += kPiece) {
            const int size = width - first < kPiece ? width - first : kPiece;
            rowCounts(first, y, size, width, height, view, cr, counts);
            for (int i = 0; i < size; ++i) paint(first + i, y, countColour(counts[i]));
        }
    }
}

// Steps of a rendered frame: the vertical step follows the host's pixel aspect.
void applyRenderSteps(ViewGeometry &view, int width, double pixelAspect);

// Steps of the preview and the thumbnails, whose pixels are square.
void applySquareSteps(ViewGeometry &view, int width);

}  // namespace vorlux
