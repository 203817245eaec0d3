// The change feed that the page's event streams wait on.
#include <gtest/gtest.h>

#include <future>

#include "qzhost/web/change_feed.h"

using namespace std::chrono_literals;

// A stream waits for the next change with a long heartbeat; a change or the
// server's stop must wake it at once, or stopping the server waits out the
// heartbeat of every open page. The bound below is not a speed limit: a
// woken waiter returns in microseconds, a forgotten one only at its timeout.
TEST(ChangeFeed, AChangeOrAStopWakesWhoeverWaits) {
    qzhost::ChangeFeed feed;
    const auto waitFromNow = [&feed] {
        return std::async(std::launch::async, [&feed, seen = feed.count()] { return feed.waitPast(seen, 90s); });
    };
    auto change = waitFromNow();
    feed.publish();
    ASSERT_EQ(change.wait_for(30s), std::future_status::ready) << "a change did not wake the waiter";
    EXPECT_EQ(change.get(), 1u);

    auto stop = waitFromNow();
    feed.stop();
    ASSERT_EQ(stop.wait_for(30s), std::future_status::ready) << "a stop did not wake the waiter";
    EXPECT_TRUE(feed.stopped());
}
