// The panel's history: the values of its value controls after each change
// of the view, so that the page can step back and forward through them and
// return to the values the panel opened with. It only keeps the values; the
// panel session puts them back through the host's parameter editing. One
// panel has one history, shared by every page open on it; callers hold the
// host's lock on module calls around each call.
#pragma once

#include <cstddef>
#include <functional>
#include <vector>

namespace qzhost {

// Steps kept before the oldest is dropped; the values the panel opened with
// are kept apart and never dropped.
inline constexpr size_t kHistorySteps = 200;

class ViewHistory {
public:
    // The values of the value controls, in an order the caller keeps.
    using Values = std::vector<double>;
    // Puts values back; throws, leaving the history as it was, when they
    // cannot be put back.
    using Restore = std::function<void(const Values &)>;

    explicit ViewHistory(Values opened, size_t longest = kHistorySteps);

    // After a change: the values now become the current step, and the steps
    // ahead of it are dropped. Values equal to the current step's are no step.
    void record(const Values &now);
    // Each restores its step and makes it current; false, restoring
    // nothing, when there is no step that way. The values now are recorded
    // first, so that a change made outside the history is a step to come
    // back to.
    bool back(const Values &now, const Restore &restore);
    bool forward(const Values &now, const Restore &restore);
    // Restores the values the panel opened with, as a new step; false when
    // they are the values now.
    bool reset(const Values &now, const Restore &restore);

    bool canGoBack() const { return current_ > 0; }
    bool canGoForward() const { return current_ + 1 < steps_.size(); }
    const Values &opened() const { return opened_; }

private:
    bool moveTo(size_t step, const Restore &restore);

    Values opened_;
    size_t longest_;
    std::vector<Values> steps_;
    size_t current_ = 0;
};

}  // namespace qzhost
