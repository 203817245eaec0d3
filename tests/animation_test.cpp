// Animated parameters: curves between keys, edits, and the block format.
#include <gtest/gtest.h>

#include <cmath>

#include "qzhost/services/params.h"

using namespace qzhost;

namespace {

Animation twoKeys(Curve curve, double from, double to) { return Animation({{0.0, from, curve}, {2.0, to}}); }

}  // namespace

TEST(Animation, CurvesBetweenTwoKeys) {
    EXPECT_EQ(twoKeys(Curve::Step, 1, 5).valueAt(1.9), 1);
    EXPECT_EQ(twoKeys(Curve::Linear, 1, 5).valueAt(0.5), 2);
    EXPECT_DOUBLE_EQ(twoKeys(Curve::Exponential, 1, 100).valueAt(1.0), 10) << "geometric midpoint";
    EXPECT_DOUBLE_EQ(twoKeys(Curve::Exponential, 1, 100).valueAt(0.5), std::sqrt(10.0));

    const Animation smooth = twoKeys(Curve::Smooth, 1, 5);
    EXPECT_EQ(smooth.valueAt(1.0), 3);
    double previous = 1;
    for (double t = 0; t <= 2.0; t += 0.01) {
        const double v = smooth.valueAt(t);
        EXPECT_GE(v, previous) << "rises monotonically, no overshoot, at " << t;
        EXPECT_LE(v, 5);
        previous = v;
    }
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
