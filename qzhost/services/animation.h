// An animated value: a constant, or keys in time with a curve from each key
// to the next. Times are in seconds.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace qzhost {

enum class Curve { Step, Linear, Smooth, Exponential };

std::string_view curveName(Curve curve);
std::optional<Curve> curveNamed(std::string_view name);

struct Key {
    double time;
    double value;
    Curve curve = Curve::Linear;  // from this key to the next
    bool operator==(const Key &) const = default;
};

class Animation {
public:
    Animation() = default;
    explicit Animation(double constant) : constant_(constant) {}
    // Keys in strictly increasing time; see invalidAnimation.
    explicit Animation(std::vector<Key> keys) : keys_(std::move(keys)) {}

    bool animated() const { return !keys_.empty(); }
    double constant() const { return constant_; }
    const std::vector<Key> &keys() const { return keys_; }

    // Before the first key the value is the first key's, after the last the
    // last key's.
    double valueAt(double time) const;

    // Without keys this sets the constant. With keys it sets the key at that
    // time, adding one there (with the curve of the segment it falls in) when
    // there is none, so that an edit changes the animation only locally.
    void setValueAt(double time, double value);

    bool operator==(const Animation &) const = default;

private:
    double constant_ = 0.0;
    std::vector<Key> keys_;
};

// Why an animation cannot be stored, or nothing when it can. This is the one
// rule for every way a value gets in (a loaded block, set value, a panel
// edit): every time and value finite, times strictly increasing, and an
// exponential segment with positive ends.
std::optional<std::string> invalidAnimation(const Animation &animation);

}  // namespace qzhost
