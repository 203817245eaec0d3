#include "qzhost/services/params.h"

#include <algorithm>
#include <cmath>
#include <sstream>

#include "qzhost/services/channels.h"
#include "qzhost/services/host.h"

namespace qzhost {
namespace {

[[noreturn]] void fail(const std::string &channel, const std::string &problem) {
    throw BlockError("channel '" + channel + "': " + problem);
}

double number(const Json &value, const std::string &channel, const std::string &where) {
    if (!value.is_number()) fail(channel, where + " must be a number, not " + std::string(value.type_name()));
    const double result = value.get<double>();
    if (!std::isfinite(result)) fail(channel, where + " must be a finite number");
    return result;
}

void onlyFields(const Json &object, std::initializer_list<const char *> allowed, const std::string &channel,
                const std::string &where) {
    for (const auto &item : object.items()) {
        const std::string &name = item.key();
        if (std::find_if(allowed.begin(), allowed.end(), [&](const char *a) { return name == a; }) == allowed.end()) {
            fail(channel, where + "unknown field '" + name + "'");
        }
    }
}

Key keyFrom(const Json &entry, const std::string &channel, size_t index) {
    const std::string where = "keys[" + std::to_string(index) + "]";
    if (!entry.is_object()) fail(channel, where + " must be an object");
    onlyFields(entry, {"time", "value", "curve"}, channel, where + ": ");
    if (!entry.contains("time") || !entry.contains("value")) fail(channel, where + " needs a time and a value");
    Key key{number(entry["time"], channel, where + ".time"), number(entry["value"], channel, where + ".value")};
    if (entry.contains("curve")) {
        const Json &curve = entry["curve"];
        const auto parsed = curve.is_string() ? curveNamed(curve.get<std::string>()) : std::nullopt;
        if (!parsed) fail(channel, where + ".curve must be one of step, linear, smooth, exponential");
        key.curve = *parsed;
    }
    return key;
}

}  // namespace

Json toBlock(const AnimatedParam &param) {
    Json block{{"channel", param.channel}};
    if (!param.animation.animated()) {
        block["value"] = param.animation.constant();
        return block;
    }
    Json keys = Json::array();
    for (const Key &key : param.animation.keys()) {
        Json entry{{"time", key.time}, {"value", key.value}};
        if (key.curve != Curve::Linear) entry["curve"] = curveName(key.curve);
        keys.push_back(std::move(entry));
    }
    block["keys"] = std::move(keys);
    return block;
}

Animation fromBlock(const Json &block, const std::string &channel) {
    if (!block.is_object()) fail(channel, "a parameter block must be an object");
    onlyFields(block, {"channel", "value", "keys"}, channel, "");
    if (!block.contains("channel") || !block["channel"].is_string()) fail(channel, "the block names no channel");
    const std::string named = block["channel"].get<std::string>();
    if (named != channel) fail(channel, "the block is for channel '" + named + "'");
    if (block.contains("value") == block.contains("keys")) fail(channel, "a block has either a value or keys");
    if (block.contains("value")) return Animation(number(block["value"], channel, "value"));

    const Json &entries = block["keys"];
    if (!entries.is_array() || entries.empty()) fail(channel, "keys must be a non-empty array");
    std::vector<Key> keys;
    for (size_t i = 0; i < entries.size(); ++i) keys.push_back(keyFrom(entries[i], channel, i));
    Animation animation(std::move(keys));
    if (const auto problem = invalidAnimation(animation)) fail(channel, *problem);
    return animation;
}

void checkBlock(const Json &block) {
    const Json *channel = block.is_object() && block.contains("channel") ? &block["channel"] : nullptr;
    fromBlock(block, channel && channel->is_string() ? channel->get<std::string>() : std::string());
}

std::optional<std::string> editValue(AnimatedParam &param, double time, double value) {
    Animation edited = param.animation;
    edited.setValueAt(time, value);
    if (const auto problem = invalidAnimation(edited)) {
        std::ostringstream refusal;
        refusal << "cannot set channel '" << param.channel << "' to " << value << " at " << time << " s: " << *problem;
        return refusal.str();
    }
    param.animation = std::move(edited);
    return std::nullopt;
}

// The table's functions: the lookup gives no context, so they reach the
// parameters through the installed host.
struct ParamCalls {
    static ParamStore &store() { return Host::current().params(); }

    static ParamHandle create(int type, int) {
        if (type != HOST_PARAM_TYPE_DOUBLE) return nullptr;
        auto param = std::make_unique<AnimatedParam>();
        AnimatedParam *handle = param.get();
        store().params_.emplace(handle, std::move(param));
        return handle;
    }

    static void destroy(ParamHandle handle) {
        AnimatedParam &param = store().get(handle);
        if (param.group) param.group->detach(&param);
        store().params_.erase(&param);
    }

    static int setup(ParamHandle handle, const char *channel, void *group, void *, void *, void *, void *) {
        AnimatedParam &param = store().get(handle);
        param.channel = channel ? channel : "";
        if (param.group) param.group->detach(&param);
        param.group = static_cast<ChannelGroup *>(group);
        if (param.group) param.group->attach(&param);
        return 0;
    }

    static const char *copy(ParamHandle dst, ParamHandle src) {
        store().get(dst).animation = store().get(src).animation;
        return nullptr;
    }

    static const char *load(ParamHandle handle, const LoadState *constState) {
        auto &state = const_cast<LoadState &>(*constState);
        AnimatedParam &param = store().get(handle);
        try {
            if (state.next >= state.blocks->size()) fail(param.channel, "no parameter block left to load");
            Animation loaded = fromBlock((*state.blocks)[state.next], param.channel);
            if (!state.checkOnly) param.animation = std::move(loaded);
            ++state.next;
            return nullptr;
        } catch (const BlockError &e) {
            state.error = e.what();
            return state.error.c_str();
        }
    }

    static const char *save(ParamHandle handle, const SaveState *state) {
        const_cast<SaveState *>(state)->blocks.push_back(toBlock(store().get(handle)));
        return nullptr;
    }

    static double evaluate(ParamHandle handle, double time, void *, double *out) {
        out[0] = store().get(handle).animation.valueAt(time);
        out[1] = out[2] = 0.0;
        return out[0];
    }

    // Answers 1 for a refused value, which the store keeps for whoever asked
    // the module to set it.
    static int setValue(ParamHandle handle, double *values) {
        auto refusal = editValue(store().get(handle), Host::current().editTime(), values[0]);
        if (!refusal) return 0;
        if (!store().refusal_) store().refusal_ = std::move(refusal);
        return 1;
    }
};

namespace {
const ParamService kParamTable{ParamCalls::create, ParamCalls::destroy, ParamCalls::setup, ParamCalls::copy,
                               ParamCalls::load,   ParamCalls::save,    ParamCalls::evaluate, ParamCalls::setValue};
}  // namespace

ParamStore::ParamStore() = default;
ParamStore::~ParamStore() = default;
const ParamService *ParamStore::table() const { return &kParamTable; }

}  // namespace qzhost
