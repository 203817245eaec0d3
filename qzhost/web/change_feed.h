// How the open pages of a panel learn that something changed: a count that
// every change moves on, and a wait until it moves past what a page has
// seen. Any request thread may call any of it.
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>

namespace qzhost {

class ChangeFeed {
public:
    // After a change that other pages should show.
    void publish();
    // Blocks until the count differs from `seen`, the timeout passes or the
    // feed stops; returns the count then.
    unsigned long waitPast(unsigned long seen, std::chrono::milliseconds timeout);
    unsigned long count();
    // Wakes every waiter for good, so that the server can stop without
    // waiting out their timeouts.
    void stop();
    bool stopped();

private:
    std::mutex mutex_;
    std::condition_variable moved_;
    unsigned long count_ = 0;
    bool stopped_ = false;
};

}  // namespace qzhost
