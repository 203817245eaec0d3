#include "qzhost/services/animation.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <utility>

namespace qzhost {
namespace {

constexpr std::array<std::pair<Curve, std::string_view>, 4> kCurveNames{{
    {Curve::Step, "step"},
    {Curve::Linear, "linear"},
    {Curve::Smooth, "smooth"},
    {Curve::Exponential, "exponential"},
}};

// From a to b in equal ratios. Keys far apart (1e-300 and 1e300) overflow
// or underflow the ratio b / a; in logarithms the same curve has no such
// limit, at a few units in the last place less precision, so only those
// pairs take it. The clamp keeps rounding from stepping outside the keys,
// and a key's own time gives its value exactly.
double geometric(double a, double b, double s) {
    if (s == 0.0) return a;
    const double ratio = b / a;
    const double value = std::isnormal(ratio) ? a * std::pow(ratio, s)
                                              : std::exp(std::log(a) + s * (std::log(b) - std::log(a)));
    return std::clamp(value, std::min(a, b), std::max(a, b));
}

// From a to b by the weight w in 0..1. Keys of opposite signs near the
// largest numbers (-1e308 and 1e308) overflow b - a; only those weigh the two
// ends apart, since other keys' values are stored in scenes and frames as
// the difference form gives them.
double between(double a, double b, double w) {
    const double difference = b - a;
    return std::isfinite(difference) ? a + difference * w : a * (1.0 - w) + b * w;
}

double blend(const Key &from, const Key &to, double time) {
    const double s = (time - from.time) / (to.time - from.time);
    switch (from.curve) {
        case Curve::Step: return from.value;
        case Curve::Linear: break;
        // Ease in and out: flat at both keys, never beyond them.
        case Curve::Smooth: return between(from.value, to.value, s * s * (3.0 - 2.0 * s));
        // Geometric, so that a zoom moves at a constant speed.
        case Curve::Exponential: return geometric(from.value, to.value, s);
    }
    return between(from.value, to.value, s);
}

}  // namespace

std::string_view curveName(Curve curve) {
    for (const auto &[value, name] : kCurveNames) {
        if (value == curve) return name;
    }
    return "linear";
}

std::optional<Curve> curveNamed(std::string_view name) {
    for (const auto &[value, text] : kCurveNames) {
        if (text == name) return value;
    }
    return std::nullopt;
}

double Animation::valueAt(double time) const {
    if (keys_.empty()) return constant_;
    if (time <= keys_.front().time) return keys_.front().value;
    if (time >= keys_.back().time) return keys_.back().value;
    const auto next = std::upper_bound(keys_.begin(), keys_.end(), time,
                                       [](double t, const Key &key) { return t < key.time; });
    return blend(*(next - 1), *next, time);
}

void Animation::setValueAt(double time, double value) {
    if (keys_.empty()) {
        constant_ = value;
        return;
    }
    const auto at = std::lower_bound(keys_.begin(), keys_.end(), time,
                                     [](const Key &key, double t) { return key.time < t; });
    if (at != keys_.end() && at->time == time) {
        at->value = value;
        return;
    }
    const Curve curve = at == keys_.begin() ? at->curve : (at - 1)->curve;
    keys_.insert(at, Key{time, value, curve});
}

std::optional<std::string> invalidAnimation(const Animation &animation) {
    if (!animation.animated()) {
        if (std::isfinite(animation.constant())) return std::nullopt;
        return "value must be a finite number";
    }
    const std::vector<Key> &keys = animation.keys();
    for (size_t i = 0; i < keys.size(); ++i) {
        const Key &key = keys[i];
        if (!std::isfinite(key.time) || !std::isfinite(key.value)) {
            return "keys[" + std::to_string(i) + "] has a time or value that is not a finite number";
        }
        if (i == 0) continue;
        const Key &before = keys[i - 1];
        if (key.time <= before.time) {
            return "keys[" + std::to_string(i) + "].time must be later than keys[" + std::to_string(i - 1) + "].time";
        }
        if (before.curve == Curve::Exponential && !(before.value > 0.0 && key.value > 0.0)) {
            return "keys[" + std::to_string(i - 1) + "] starts an exponential curve, which needs positive values at both ends";
        }
    }
    return std::nullopt;
}

}  // namespace qzhost
