// Filter instances through the real loader and the host's own services.
#include <gtest/gtest.h>

#include "qzhost/loader/filter.h"
#include "qzhost/services/host.h"
#include "tests/host_errors.h"
#include "tests/view_blocks.h"

using namespace qzhost;

namespace {

class Instances : public ::testing::Test {
protected:
    Host host_;
    LoadedModule module_{VORLUX_MODULE_FILE};
    FilterServer server_{module_, "Vorlux", host_.lookup()};
};

}  // namespace

TEST_F(Instances, NewInstanceHasThreeChannelsInItsOwnGroup) {
    HostedFilter filter(server_);
    EXPECT_EQ(filter.describe(), "Vorlux  (-0.222, 0.8)  15");
    EXPECT_EQ(host_.channels().channelPaths(),
              (std::vector<std::string>{"Image/Vorlux/Center.X", "Image/Vorlux/Center.Y", "Image/Vorlux/Zoom"}));
    EXPECT_EQ(filter.save(), viewBlocks(-0.222, 0.8, 15.0));
}

TEST_F(Instances, DestroyReleasesEveryParameter) {
    {
        HostedFilter a(server_);
        HostedFilter b(server_);
        EXPECT_EQ(host_.params().liveCount(), 6u);
    }
    EXPECT_EQ(host_.params().liveCount(), 0u);
    EXPECT_TRUE(host_.channels().channelPaths().empty());
}

// A load shows the values at time zero, even after a later frame was shown
// (as a host does during a render); a copy takes them with their animation.
TEST_F(Instances, LoadShowsTimeZeroAndACopyTakesValuesAndAnimationButKeepsItsOwnParameters) {
    HostedFilter source(server_);
    const Json zoomKeys = Json::parse(R"({"channel": "Zoom", "keys": [
        {"time": 0, "value": 2, "curve": "exponential"}, {"time": 1, "value": 200}]})");
    server_.renderOps().newTime(source.instance(), 24, 1.0);
    source.load({constantBlock("Center.X", 0.25), constantBlock("Center.Y", -0.5), zoomKeys});
    EXPECT_EQ(source.describe(), "Vorlux  (0.25, -0.5)  2");

    auto destination = std::make_unique<HostedFilter>(server_);
    destination->copyFrom(source);
    EXPECT_EQ(destination->save(), source.save());
    EXPECT_EQ(destination->describe(), "Vorlux  (0.25, -0.5)  2");

    // Changing the source afterwards leaves the copy alone: they share no
    // parameter.
    source.load(viewBlocks(1, 1, 1));
    EXPECT_EQ(destination->save()[2], zoomKeys);
    EXPECT_EQ(host_.channels().channelPaths().size(), 6u);
}

TEST_F(Instances, LoadFailingOnSecondBlockChangesNothing) {
    HostedFilter filter(server_);
    const std::vector<Json> blocks{constantBlock("Center.X", 0.5), Json{{"channel", "Center.Y"}, {"value", "high"}},
                                   constantBlock("Zoom", 99)};
    try {
        filter.load(blocks);
        FAIL() << "the malformed block was accepted";
    } catch (const StateError &e) {
        EXPECT_EQ(e.block, 1u);
        EXPECT_STREQ(e.what(), "channel 'Center.Y': value must be a number, not string");
    }
    EXPECT_EQ(filter.describe(), "Vorlux  (-0.222, 0.8)  15") << "cached values stay";
    EXPECT_EQ(filter.save(), viewBlocks(-0.222, 0.8, 15.0)) << "not even the good block before it is loaded";
}

// The parameter service is the one every instance calls: an activation that
// fails for want of it must not take it from the instances already made.
TEST_F(Instances, FailedActivationKeepsEarlierInstancesWorking) {
    HostedFilter filter(server_);
    host_.registry().withdraw(HOST_PARAMS);
    EXPECT_EQ(errorOf([&] { FilterServer(module_, "Vorlux", host_.lookup()); }, kExitBadInput),
              "filter 'Vorlux' in '" VORLUX_MODULE_FILE "' lacks a service or panel it needs");
    filter.load(viewBlocks(1, 2, 3));
    EXPECT_EQ(filter.describe(), "Vorlux  (1, 2)  3");
    HostedFilter another(server_);
    EXPECT_EQ(another.describe(), "Vorlux  (-0.222, 0.8)  15");
}

TEST_F(Instances, ParameterThatCouldNotBeCreatedIsNeverPassedOn) {
    // The host's parameter service, except that the second creation fails.
    static const ParamService *realParams;
    static int creations;
    realParams = host_.params().table();
    creations = 0;
    ParamService failing = *realParams;
    failing.create = [](int type, int flags) { return ++creations == 2 ? nullptr : realParams->create(type, flags); };
    host_.registry().offer(HOST_PARAMS, &failing);
    FilterServer flaky(module_, "Vorlux", host_.lookup());

    HostedFilter broken(flaky);
    HostedFilter whole(server_);
    EXPECT_EQ(host_.params().liveCount(), 5u);
    EXPECT_THROW(broken.save(), HostError);
    EXPECT_THROW(broken.load(viewBlocks(1, 2, 3)), StateError);
    const InstanceOps &ops = server_.instanceOps();
    EXPECT_STREQ(ops.copy(broken.instance(), whole.instance()), "Vorlux parameter is missing.");
    EXPECT_STREQ(ops.copy(whole.instance(), broken.instance()), "Vorlux parameter is missing.");
    server_.renderOps().newTime(broken.instance(), 0, 0.0);
    EXPECT_EQ(broken.describe(), "Vorlux  (-0.222, 0.8)  15");
}

TEST_F(Instances, ACopyTheHostRefusesIsReportedAndKeepsTheView) {
    ParamService refusing = *host_.params().table();
    refusing.copy = [](ParamHandle, ParamHandle) { return "channels cannot be copied"; };
    host_.registry().offer(HOST_PARAMS, &refusing);
    FilterServer server(module_, "Vorlux", host_.lookup());
    HostedFilter source(server);
    HostedFilter destination(server);
    source.load(viewBlocks(1, 2, 3));
    EXPECT_STREQ(server.instanceOps().copy(destination.instance(), source.instance()), "channels cannot be copied");
    EXPECT_EQ(destination.describe(), "Vorlux  (-0.222, 0.8)  15");
}
