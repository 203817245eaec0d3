#include "qzhost/web/change_feed.h"

namespace qzhost {

void ChangeFeed::publish() {
    {
        std::lock_guard lock(mutex_);
        ++count_;
    }
    moved_.notify_all();
}

unsigned long ChangeFeed::waitPast(unsigned long seen, std::chrono::milliseconds timeout) {
    std::unique_lock lock(mutex_);
    moved_.wait_for(lock, timeout, [&] { return count_ != seen || stopped_; });
    return count_;
}

unsigned long ChangeFeed::count() {
    std::lock_guard lock(mutex_);
    return count_;
}

void ChangeFeed::stop() {
    {
        std::lock_guard lock(mutex_);
        stopped_ = true;
    }
    moved_.notify_all();
}

bool ChangeFeed::stopped() {
    std::lock_guard lock(mutex_);
    return stopped_;
}

}  // namespace qzhost
