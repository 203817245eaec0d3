#include "qzhost/scene/located_json.h"

#include <algorithm>
#include <iterator>
#include <optional>
#include <vector>

#include "qzhost/base/error.h"

namespace qzhost {
namespace {

struct Cursor {
    const char *begin;
    const char *at;
    const char *end;
};

// Walks the text for the parser and keeps the shared cursor at the parser's
// reading position, which is what the events below are stamped with.
struct TrackingIterator {
    using iterator_category = std::input_iterator_tag;
    using value_type = char;
    using difference_type = std::ptrdiff_t;
    using pointer = const char *;
    using reference = const char &;

    const char *p;
    Cursor *cursor;

    reference operator*() const { return *p; }
    TrackingIterator &operator++() {
        cursor->at = ++p;
        return *this;
    }
    TrackingIterator operator++(int) {
        TrackingIterator before = *this;
        ++*this;
        return before;
    }
    bool operator==(const TrackingIterator &other) const { return p == other.p; }
};

std::string escapePointerToken(const std::string &token) {
    std::string escaped;
    for (char c : token) {
        if (c == '~') escaped += "~0";
        else if (c == '/') escaped += "~1";
        else escaped += c;
    }
    return escaped;
}

}  // namespace

// Builds the document through the library's own DOM builder and notes, for
// each value, where it stands: members at their key, array elements where
// the parser met them.
class PlaceRecorder {
public:
    using Dom = nlohmann::detail::json_sax_dom_parser<Json>;

    PlaceRecorder(LocatedJson &target, const Cursor &cursor) : dom_(target.root_), target_(target), cursor_(cursor) {}

    bool null() { return scalar([&] { return dom_.null(); }); }
    bool boolean(bool v) { return scalar([&] { return dom_.boolean(v); }); }
    bool number_integer(Json::number_integer_t v) { return scalar([&] { return dom_.number_integer(v); }); }
    bool number_unsigned(Json::number_unsigned_t v) { return scalar([&] { return dom_.number_unsigned(v); }); }
    bool number_float(Json::number_float_t v, const std::string &s) {
        return scalar([&] { return dom_.number_float(v, s); });
    }
    bool string(std::string &v) { return scalar([&] { return dom_.string(v); }); }
    bool binary(Json::binary_t &v) { return scalar([&] { return dom_.binary(v); }); }

    bool start_object(std::size_t n) {
        beginValue(1);
        frames_.push_back({false, 0, {}});
        return dom_.start_object(n);
    }
    bool key(std::string &k) {
        frames_.back().key = k;
        // The key has just been read: step back over it and its quotes.
        markHere(pathOf(frames_.size()), static_cast<int>(k.size()) + 2);
        return dom_.key(k);
    }
    bool end_object() {
        frames_.pop_back();
        afterValue();
        return dom_.end_object();
    }
    bool start_array(std::size_t n) {
        beginValue(1);
        frames_.push_back({true, 0, {}});
        return dom_.start_array(n);
    }
    bool end_array() {
        frames_.pop_back();
        afterValue();
        return dom_.end_array();
    }
    // Stops the parse; the constructor reports the problem with its place.
    bool parse_error(std::size_t position, const std::string &, const nlohmann::detail::exception &e) {
        errorByte_ = position;
        errorText_ = e.what();
        return false;
    }

    std::optional<std::string> error() const {
        if (errorText_.empty()) return std::nullopt;
        // The library's text reads "[json.exception...] parse error at line L,
        // column C: problem"; keep the problem and put the place up front.
        std::string problem = errorText_;
        if (const auto colon = problem.find(": "); colon != std::string::npos) problem = problem.substr(colon + 2);
        const LocatedJson::Place place = placeOf(cursor_.begin + std::min(errorByte_ ? errorByte_ - 1 : 0, textSize()));
        return std::to_string(place.line) + ":" + std::to_string(place.column) + ": " + problem;
    }

private:
    struct Frame {
        bool array;
        size_t index;
        std::string key;
    };

    template <typename Event>
    bool scalar(Event event) {
        beginValue(0);
        afterValue();
        return event();
    }

    std::string pathOf(size_t depth) const {
        std::string path;
        for (size_t i = 0; i < depth; ++i) {
            path += '/';
            path += frames_[i].array ? std::to_string(frames_[i].index) : escapePointerToken(frames_[i].key);
        }
        return path;
    }

    // Members were placed at their key; array elements and the root here.
    void beginValue(int backOff) {
        if (frames_.empty() || frames_.back().array) markHere(pathOf(frames_.size()), backOff);
    }
    void afterValue() {
        if (!frames_.empty() && frames_.back().array) ++frames_.back().index;
    }

    void markHere(const std::string &path, int backOff) {
        target_.places_[path] = placeOf(std::max(cursor_.at - backOff, cursor_.begin));
    }

    size_t textSize() const { return static_cast<size_t>(cursor_.end - cursor_.begin); }

    LocatedJson::Place placeOf(const char *at) const {
        int line = 1;
        const char *lineStart = cursor_.begin;
        for (const char *p = cursor_.begin; p < at; ++p) {
            if (*p == '\n') {
                ++line;
                lineStart = p + 1;
            }
        }
        return {line, static_cast<int>(at - lineStart) + 1};
    }

    Dom dom_;
    LocatedJson &target_;
    const Cursor &cursor_;
    std::vector<Frame> frames_;
    size_t errorByte_ = 0;
    std::string errorText_;
};

LocatedJson::LocatedJson(const std::string &text, std::string source) : source_(std::move(source)) {
    Cursor cursor{text.data(), text.data(), text.data() + text.size()};
    PlaceRecorder recorder(*this, cursor);
    Json::sax_parse(TrackingIterator{text.data(), &cursor}, TrackingIterator{cursor.end, &cursor}, &recorder);
    if (const auto error = recorder.error()) throw HostError(source_ + ":" + *error);
}

std::string LocatedJson::where(const std::string &pointer) const {
    std::string path = pointer;
    while (true) {
        if (const auto found = places_.find(path); found != places_.end()) {
            return source_ + ":" + std::to_string(found->second.line) + ":" + std::to_string(found->second.column);
        }
        if (path.empty()) return source_;
        path.erase(path.rfind('/'));
    }
}

}  // namespace qzhost
