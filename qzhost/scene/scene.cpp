#include "qzhost/scene/scene.h"

#include <cmath>

#include "qzhost/base/error.h"
#include "qzhost/base/files.h"
#include "qzhost/services/params.h"

namespace qzhost {
namespace {

// Reads one document's fields, with the place of each problem.
class SceneReader {
public:
    explicit SceneReader(const LocatedJson &json) : json_(json) {}

    SceneDocument read() {
        const Json &root = json_.root();
        requireObject(root, "", "the scene", {"frames", "filters"});
        SceneDocument scene;
        scene.frames = readFrames(field(root, "", "frames"));
        const Json &filters = field(root, "", "filters");
        if (!filters.is_array()) fail("/filters", "filters must be an array");
        for (size_t i = 0; i < filters.size(); ++i) scene.filters.push_back(readFilter(filters[i], i));
        return scene;
    }

private:
    [[noreturn]] void fail(const std::string &pointer, const std::string &problem) const {
        throw HostError(json_.where(pointer) + ": " + problem);
    }

    static std::string name(const std::string &pointer) {
        std::string dotted;
        for (char c : pointer.substr(1)) dotted += c == '/' ? '.' : c;
        return dotted;
    }

    void requireObject(const Json &value, const std::string &pointer, const std::string &what,
                       std::initializer_list<const char *> fields) const {
        if (!value.is_object()) fail(pointer, what + " must be an object");
        for (const auto &[key, unused] : value.items()) {
            bool known = false;
            for (const char *f : fields) known = known || key == f;
            if (!known) fail(pointer + "/" + key, "unknown field '" + key + "' in " + what);
        }
    }

    const Json &field(const Json &object, const std::string &pointer, const char *key) const {
        if (!object.contains(key)) fail(pointer, "missing field '" + std::string(key) + "'");
        return object[key];
    }

    int integer(const Json &object, const std::string &pointer, const char *key, int min, int max) const {
        const Json &value = field(object, pointer, key);
        const std::string at = pointer + "/" + key;
        if (!value.is_number_integer()) fail(at, name(at) + " must be a whole number, not " + describe(value));
        const auto number = value.get<long long>();
        if (number < min || number > max) {
            fail(at, name(at) + " must be from " + std::to_string(min) + " to " + std::to_string(max) + ", not " +
                         std::to_string(number));
        }
        return static_cast<int>(number);
    }

    double positive(const Json &object, const std::string &pointer, const char *key) const {
        const Json &value = field(object, pointer, key);
        const std::string at = pointer + "/" + key;
        if (!value.is_number()) fail(at, name(at) + " must be a number, not " + describe(value));
        const double number = value.get<double>();
        if (!(number > 0.0) || !std::isfinite(number)) fail(at, name(at) + " must be above 0, not " + value.dump());
        return number;
    }

    std::string text(const Json &object, const std::string &pointer, const char *key) const {
        const Json &value = field(object, pointer, key);
        const std::string at = pointer + "/" + key;
        if (!value.is_string() || value.get<std::string>().empty()) {
            fail(at, name(at) + " must be a non-empty text, not " + describe(value));
        }
        return value.get<std::string>();
    }

    static std::string describe(const Json &value) {
        return std::string(value.type_name()) + " " + value.dump();
    }

    FrameSettings readFrames(const Json &frames) const {
        const std::string at = "/frames";
        requireObject(frames, at, "frames", {"width", "height", "pixelAspect", "fps", "first", "last"});
        FrameSettings settings;
        settings.width = integer(frames, at, "width", 1, kMaxFrameSide);
        settings.height = integer(frames, at, "height", 1, kMaxFrameSide);
        settings.pixelAspect = positive(frames, at, "pixelAspect");
        settings.fps = positive(frames, at, "fps");
        settings.first = integer(frames, at, "first", 0, 1'000'000);
        settings.last = integer(frames, at, "last", settings.first, 1'000'000);
        return settings;
    }

    FilterEntry readFilter(const Json &filter, size_t index) const {
        const std::string at = "/filters/" + std::to_string(index);
        requireObject(filter, at, "a filter", {"module", "server", "state"});
        FilterEntry entry;
        entry.module = text(filter, at, "module");
        entry.server = text(filter, at, "server");
        entry.where = json_.where(at);
        if (filter.contains("state")) {
            const Json &state = filter["state"];
            if (!state.is_array()) fail(at + "/state", "state must be an array of parameter blocks");
            entry.state = std::vector<Json>(state.begin(), state.end());
            for (size_t b = 0; b < state.size(); ++b) entry.blockWhere.push_back(json_.where(at + "/state/" + std::to_string(b)));
        }
        return entry;
    }

    const LocatedJson &json_;
};

}  // namespace

SceneDocument parseScene(const std::string &text, const std::string &source) {
    return SceneReader(LocatedJson(text, source)).read();
}

SceneDocument readSceneFile(const std::filesystem::path &file) {
    return parseScene(readInputFile(file, "scene"), file.string());
}

Json sceneToJson(const SceneDocument &scene) {
    const FrameSettings &f = scene.frames;
    Json filters = Json::array();
    for (const FilterEntry &entry : scene.filters) {
        Json filter{{"module", entry.module}, {"server", entry.server}};
        if (entry.state) filter["state"] = *entry.state;
        filters.push_back(std::move(filter));
    }
    return Json{{"frames",
                 {{"width", f.width},
                  {"height", f.height},
                  {"pixelAspect", f.pixelAspect},
                  {"fps", f.fps},
                  {"first", f.first},
                  {"last", f.last}}},
                {"filters", std::move(filters)}};
}

void writeSceneFile(const std::filesystem::path &file, const SceneDocument &scene) {
    const std::string text = sceneToJson(scene).dump(2) + "\n";
    // The text is read back as a later load would read it, so that a save
    // never puts a file that no command opens in place of the user's.
    try {
        for (const FilterEntry &entry : parseScene(text, file.string()).filters) {
            for (size_t b = 0; entry.state && b < entry.state->size(); ++b) {
                try {
                    checkBlock((*entry.state)[b]);
                } catch (const BlockError &e) {
                    throw HostError(entry.blockWhere[b] + ": " + e.what());
                }
            }
        }
    } catch (const HostError &e) {
        throw HostError("scene '" + file.string() + "' not saved, as it would not load: " + e.what(), kExitFailed);
    }
    writeFileAtomically(file, text);
}

}  // namespace qzhost
