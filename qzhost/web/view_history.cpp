#include "qzhost/web/view_history.h"

#include <algorithm>
#include <utility>

namespace qzhost {

ViewHistory::ViewHistory(Values opened, size_t longest)
    : opened_(std::move(opened)), longest_(std::max<size_t>(longest, 1)), steps_{opened_} {}

void ViewHistory::record(const Values &now) {
    if (steps_[current_] == now) return;
    steps_.resize(current_ + 1);
    steps_.push_back(now);
    if (steps_.size() > longest_) steps_.erase(steps_.begin());
    current_ = steps_.size() - 1;
}

bool ViewHistory::moveTo(size_t step, const Restore &restore) {
    restore(steps_[step]);
    current_ = step;
    return true;
}

bool ViewHistory::back(const Values &now, const Restore &restore) {
    record(now);
    return canGoBack() && moveTo(current_ - 1, restore);
}

bool ViewHistory::forward(const Values &now, const Restore &restore) {
    record(now);
    return canGoForward() && moveTo(current_ + 1, restore);
}

bool ViewHistory::reset(const Values &now, const Restore &restore) {
    if (now == opened_) return false;
    restore(opened_);
    record(now);
    record(opened_);
    return true;
}

}  // namespace qzhost
