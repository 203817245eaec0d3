// The fast escape count must equal the plain loop's on every input. Millions of points per run:
// random points over the views people look at, whole rows of frames in the order a render asks for
// them, points found by bisection right on the boundary of the set, both sides of the closed-form
// shapes and of their acceptance margin, and inputs that are not ordinary numbers.
#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <limits>
#include <numbers>
#include <random>
#include <vector>

#include "fractal/fractal.h"

using namespace vorlux;

namespace {

// Compares both counts at each point it is shown. Every difference fails the test; only the first
// ten are described, so that a broken count does not flood the log.
struct Comparison {
    long points = 0;
    long mismatches = 0;

    int check(double cr, double ci) {
        const int want = escapeCountReference(cr, ci);
        const int got = escapeCount(cr, ci);
        ++points;
        if (got != want && ++mismatches <= 10) {
            ADD_FAILURE() << std::hexfloat << "c = " << cr << " + " << ci << "i: fast count " << got << ", plain loop "
                          << want;
        }
        return want;
    }
};

struct View {
    double centreX, centreY, zoom;
};

// The default view, the whole set, the seahorse valley, a deep zoom of the default view, a view
// almost without interior, and a minibrot.
constexpr View kViews[] = {
    {-0.222, 0.8, 15.0},   {-0.5, 0.0, 1.0},         {-0.745, 0.1, 100.0},
    {-0.222, 0.8, 1000.0}, {1.0, 1.0, 2.0},          {-0.743643887, 0.131825904, 1e6},
    {-1.25, 0.0, 8.0},     {0.28, 0.53, 40.0},
};

// A point of a view seen at 16:9, uniformly at random.
std::complex<double> randomPoint(const View &view, std::mt19937_64 &random) {
    const double halfWidth = 1.6 / view.zoom;
    std::uniform_real_distribution<double> across(-halfWidth, halfWidth);
    std::uniform_real_distribution<double> down(-halfWidth * 9.0 / 16.0, halfWidth * 9.0 / 16.0);
    return {view.centreX + across(random), view.centreY + down(random)};
}

TEST(EscapeCountExactness, RandomPointsOverManyViews) {
    Comparison comparison;
    std::mt19937_64 random(7);
    for (const View &view : kViews) {
        for (int i = 0; i < 700000; ++i) {
            const std::complex<double> c = randomPoint(view, random);
            comparison.check(c.real(), c.imag());
        }
    }
}

// A render asks for the pixels of a row one after another, so each point starts from the cycle
// proven for its neighbour: in the same component, in the next one, or next to the set.
TEST(EscapeCountExactness, RowsOfFramesInRenderOrder) {
    constexpr int kWidth = 1280, kHeight = 720;
    Comparison comparison;
    for (const View &view : kViews) {
        ViewGeometry geometry{view.centreX, view.centreY, view.zoom, 0.0, 0.0};
        applySquareSteps(geometry, kWidth);
        for (int y = 0; y < kHeight; y += 4) {
            for (int x = 0; x < kWidth; ++x) {
                const PlanePoint c = planePoint(x, y, kWidth, kHeight, geometry);
                comparison.check(c.cr, c.ci);
            }
        }
    }
}

// Bisects the segment from a point inside (count 512) to one outside down to adjacent doubles,
// checking every point it visits: their distances to the boundary shrink geometrically.
void bisect(std::complex<double> inside, std::complex<double> outside, Comparison &comparison) {
    for (int i = 0; i < 60; ++i) {
        const std::complex<double> middle = inside + (outside - inside) * 0.5;
        if (middle == inside || middle == outside) break;
        (comparison.check(middle.real(), middle.imag()) == kIterationLimit ? inside : outside) = middle;
    }
}

TEST(EscapeCountExactness, PointsOnTheBoundaryFoundByBisection) {
    Comparison comparison;
    std::mt19937_64 random(11);
    for (const View &view : kViews) {
        std::vector<std::complex<double>> inside, outside;
        while (inside.size() < 200 || outside.size() < 200) {
            const std::complex<double> c = randomPoint(view, random);
            (escapeCountReference(c.real(), c.imag()) == kIterationLimit ? inside : outside).push_back(c);
            if (inside.empty() && outside.size() > 100000) break;  // a view without interior
        }
        if (inside.empty()) continue;
        std::uniform_int_distribution<std::size_t> pickInside(0, inside.size() - 1);
        std::uniform_int_distribution<std::size_t> pickOutside(0, outside.size() - 1);
        for (int ray = 0; ray < 4000; ++ray) {
            bisect(inside[pickInside(random)], outside[pickOutside(random)], comparison);
        }
    }
    EXPECT_GT(comparison.points, 1500000);
}

// The main cardioid is c = m/2 - m^2/4 and the period-2 disc c = -1 + m/4 for the multipliers
// |m| <= 1. The fast count accepts both up to |m| = 1 - 2^-16 without iterating, so points at
// moduli just either side of 1 and of that margin matter most.
TEST(EscapeCountExactness, EdgesOfTheCardioidAndTheDisc) {
    Comparison comparison;
    std::mt19937_64 random(13);
    std::uniform_real_distribution<double> angle(0.0, 2.0 * std::numbers::pi);
    std::vector<double> moduli;
    for (int e = 4; e <= 52; ++e) {
        moduli.push_back(1.0 - std::ldexp(1.0, -e));
        moduli.push_back(1.0 + std::ldexp(1.0, -e));
        moduli.push_back(1.0 - 0x1p-16 - std::ldexp(1.0, -e - 16));
        moduli.push_back(1.0 - 0x1p-16 + std::ldexp(1.0, -e - 16));
    }
    for (int i = 0; i < 9000; ++i) {
        const std::complex<double> direction = std::polar(1.0, angle(random));
        for (const double modulus : moduli) {
            const std::complex<double> m = modulus * direction;
            const std::complex<double> cardioid = m / 2.0 - m * m / 4.0;
            const std::complex<double> disc = -1.0 + m / 4.0;
            comparison.check(cardioid.real(), cardioid.imag());
            comparison.check(disc.real(), disc.imag());
        }
    }
}

TEST(EscapeCountExactness, InputsThatAreNotOrdinaryNumbers) {
    Comparison comparison;
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    const double values[] = {0.0,     -0.0,   nan,   -nan,   inf,     -inf,   1e308,   -1e308, 1e-308,
                             -1e-308, 4.9e-324, 1e-200, -1e-160, 2.0,   -2.0,  0.25,   -0.75,  -1.25,
                             0.5,     -1.0,   1.0,   0x1.fffffffffffffp0, -0x1.fffffffffffffp0};
    for (const double cr : values) {
        for (const double ci : values) comparison.check(cr, ci);
    }
    // Points on and beside the escape radius.
    std::mt19937_64 random(17);
    std::uniform_real_distribution<double> angle(0.0, 2.0 * std::numbers::pi);
    for (int i = 0; i < 20000; ++i) {
        const std::complex<double> c = std::polar(2.0, angle(random));
        comparison.check(c.real(), c.imag());
        comparison.check(std::nextafter(c.real(), 0.0), std::nextafter(c.imag(), 0.0));
    }
}

}  // namespace
