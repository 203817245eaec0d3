// Animated parameters: curves between keys, edits, and the block format.
#include <gtest/gtest.h>

#include <cmath>

#include "qzhost/services/params.h"

using namespace qzhost;

namespace {

Animation twoKeys(Curve curve, double from, double to) { return Animation({{0.0, from, curve}, {2.0, to}}); }

// Walks the animation from `start` to `end` in `steps` and expects finite values that move from `from`
// towards `to` without turning back or leaving the span between them.
void expectMonotoneSpan(const Animation &animation, double from, double to, double start, double end, int steps) {
    double previous = from;
    for (int step = 1; step <= steps; ++step) {
        const double value = animation.valueAt(start + (end - start) * step / steps);
        EXPECT_TRUE(std::isfinite(value) && value >= std::min(from, to) && value <= std::max(from, to))
            << value << " at step " << step << " from " << from << " to " << to;
        EXPECT_TRUE(to > from ? value >= previous : value <= previous) << "turns back at step " << step;
        previous = value;
    }
}

}  // namespace

TEST(Animation, CurvesBetweenTwoKeys) {
    EXPECT_EQ(twoKeys(Curve::Step, 1, 5).valueAt(1.9), 1);
    EXPECT_EQ(twoKeys(Curve::Linear, 1, 5).valueAt(0.5), 2);
    EXPECT_DOUBLE_EQ(twoKeys(Curve::Exponential, 1, 100).valueAt(1.0), 10) << "geometric midpoint";
    EXPECT_DOUBLE_EQ(twoKeys(Curve::Exponential, 1, 100).valueAt(0.5), std::sqrt(10.0));

    const Animation smooth = twoKeys(Curve::Smooth, 1, 5);
    EXPECT_EQ(smooth.valueAt(1.0), 3);
    expectMonotoneSpan(smooth, 1, 5, 0.0, 2.0, 200);  // no overshoot
    // Outside the keys the nearest key holds.
    EXPECT_EQ(smooth.valueAt(-1), 1);
    EXPECT_EQ(smooth.valueAt(7), 5);
}

TEST(Animation, SetValueChangesConstantOrTheKeyAtThatTime) {
    Animation constant(3);
    constant.setValueAt(5, 4);
    EXPECT_EQ(constant.valueAt(0), 4);

    Animation keyed = twoKeys(Curve::Smooth, 1, 5);
    keyed.setValueAt(2.0, 9);
    EXPECT_EQ(keyed.keys().size(), 2u);
    EXPECT_EQ(keyed.valueAt(2.0), 9);
    keyed.setValueAt(1.0, 7);
    ASSERT_EQ(keyed.keys().size(), 3u);
    EXPECT_EQ(keyed.keys()[1], (Key{1.0, 7, Curve::Smooth})) << "a new key takes the curve of its segment";
    EXPECT_EQ(keyed.valueAt(0), 1);
}

TEST(ParameterBlocks, RoundTripKeepsTheBlockAsWritten) {
    for (const char *text : {R"({"channel": "Zoom", "value": 15})",
                             R"({"channel": "Zoom", "keys": [{"time": 0, "value": 15, "curve": "exponential"},
                                {"time": 1.5, "value": 300, "curve": "step"}, {"time": 3, "value": 2}]})"}) {
        const Json block = Json::parse(text);
        AnimatedParam param{"Zoom", nullptr, fromBlock(block, "Zoom")};
        EXPECT_EQ(toBlock(param), block);
    }
}

TEST(ParameterBlocks, MalformedBlocksNameChannelAndProblem) {
    const std::pair<const char *, const char *> cases[] = {
        {R"([1])", "channel 'Zoom': a parameter block must be an object"},
        {R"({"channel": "Center.X", "value": 1})", "channel 'Zoom': the block is for channel 'Center.X'"},
        {R"({"channel": "Zoom", "value": 1, "keys": []})", "channel 'Zoom': a block has either a value or keys"},
        {R"({"channel": "Zoom", "value": 1, "speed": 2})", "channel 'Zoom': unknown field 'speed'"},
        {R"({"channel": "Zoom", "keys": []})", "channel 'Zoom': keys must be a non-empty array"},
        {R"({"channel": "Zoom", "keys": [{"time": 0}]})", "channel 'Zoom': keys[0] needs a time and a value"},
        {R"({"channel": "Zoom", "keys": [{"time": 0, "value": 1, "curve": "bouncy"}]})",
         "channel 'Zoom': keys[0].curve must be one of step, linear, smooth, exponential"},
        {R"({"channel": "Zoom", "keys": [{"time": 1, "value": 1}, {"time": 1, "value": 2}]})",
         "channel 'Zoom': keys[1].time must be later than keys[0].time"},
        {R"({"channel": "Zoom", "keys": [{"time": 0, "value": 0, "curve": "exponential"}, {"time": 1, "value": 2}]})",
         "channel 'Zoom': keys[0] starts an exponential curve, which needs positive values at both ends"},
    };
    for (const auto &[text, message] : cases) {
        try {
            fromBlock(Json::parse(text), "Zoom");
            ADD_FAILURE() << "accepted " << text;
        } catch (const BlockError &e) {
            EXPECT_EQ(std::string(e.what()), message) << text;
        }
    }
}

TEST(Animation, ExponentialCurveSpansAnyTwoPositiveKeys) {
    for (const auto &[from, to] : {std::pair{1e-300, 1e300}, std::pair{1e300, 1e-300}, std::pair{5e-324, 1.7e308},
                                   std::pair{15.0, 15.0 * (1 + 1e-15)}}) {
        const Animation zoom({{0.0, from, Curve::Exponential}, {1.0, to, Curve::Exponential}, {2.0, from}});
        EXPECT_EQ(zoom.valueAt(0.0), from);
        EXPECT_EQ(zoom.valueAt(1.0), to) << "a key's own time gives its value";
        expectMonotoneSpan(zoom, from, to, 0.0, 1.0, 1000);
    }
    const Animation wide({{0.0, 1e-300, Curve::Exponential}, {2.0, 1e300}});
    EXPECT_NEAR(wide.valueAt(1.0), 1.0, 1e-12) << "the geometric midpoint";
    EXPECT_NEAR(wide.valueAt(1.5) / 1e150, 1.0, 1e-12);
}

TEST(Animation, LinearAndSmoothCurvesSpanKeysNearTheLargestNumbers) {
    for (const Curve curve : {Curve::Linear, Curve::Smooth}) {
        for (const auto &[from, to] : {std::pair{-1e308, 1e308}, std::pair{1.7e308, -1.7e308}}) {
            const Animation span = twoKeys(curve, from, to);
            EXPECT_EQ(span.valueAt(1.0), 0.0) << "the midpoint";
            expectMonotoneSpan(span, from, to, 0.0, 2.0, 200);
            EXPECT_EQ(span.valueAt(2.0), to);
        }
    }
}

TEST(ParameterEdits, AnEditThatWouldBreakTheRuleChangesNothingAndSaysWhy) {
    AnimatedParam zoom{"Zoom", nullptr, twoKeys(Curve::Exponential, 15, 60)};
    const Animation before = zoom.animation;
    EXPECT_EQ(editValue(zoom, 0.0, 0.0),
              "cannot set channel 'Zoom' to 0 at 0 s: keys[0] starts an exponential curve, which needs positive "
              "values at both ends");
    EXPECT_NE(editValue(zoom, 1.0, -3.0), std::nullopt) << "a new key inside the exponential segment";
    EXPECT_EQ(zoom.animation, before);
    EXPECT_EQ(editValue(zoom, 2.0, 30.0), std::nullopt);
    EXPECT_EQ(zoom.animation.valueAt(2.0), 30.0);

    AnimatedParam centre{"Center.X", nullptr, Animation(0.5)};
    for (const double bad : {std::nan(""), HUGE_VAL, -HUGE_VAL}) {
        EXPECT_NE(editValue(centre, 0.0, bad), std::nullopt) << bad;
    }
    EXPECT_EQ(centre.animation, Animation(0.5));
    EXPECT_EQ(editValue(centre, 0.0, 0.0), std::nullopt) << "zero is a value like any other";
}
