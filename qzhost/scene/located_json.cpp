#include "qzhost/scene/located_json.h"

#include <algorithm>
#include <charconv>
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

// The tokens of a JSON pointer, "~1" and "~0" read back as "/" and "~".
std::vector<std::string> pointerTokens(const std::string &pointer) {
    std::vector<std::string> tokens;
    for (size_t at = 0; at < pointer.size();) {
        const size_t end = std::min(pointer.find('/', at + 1), pointer.size());
        std::string token;
        for (size_t i = at + 1; i < end; ++i) {
            if (pointer[i] == '~' && i + 1 < end) {
                token += pointer[++i] == '1' ? '/' : '~';
            } else {
                token += pointer[i];
            }
        }
        tokens.push_back(std::move(token));
        at = end;
    }
    return tokens;
}

}  // namespace

// Builds the document through the library's own DOM builder and notes, for
// each value, where it stands: members at their key, array elements where
// the parser met them. Each value costs one node, whatever its depth.
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

    bool start_object(std::size_t n) { return startContainer(false) && dom_.start_object(n); }
    bool key(std::string &k) {
        Frame &frame = frames_.back();
        frame.key = k;
        // The key has just been read: step back over it and its quotes.
        frame.keyOffset = offsetBefore(static_cast<int>(k.size()) + 2);
        return dom_.key(k);
    }
    bool end_object() {
        frames_.pop_back();
        return dom_.end_object();
    }
    bool start_array(std::size_t n) { return startContainer(true) && dom_.start_array(n); }
    bool end_array() {
        frames_.pop_back();
        return dom_.end_array();
    }
    // Stops the parse; the constructor reports the problem with its place.
    bool parse_error(std::size_t position, const std::string &, const nlohmann::detail::exception &e) {
        // The library's text reads "[json.exception...] parse error at line L,
        // column C: problem"; keep the problem, the place is told our way.
        problem_ = e.what();
        if (const auto colon = problem_.find(": "); colon != std::string::npos) problem_ = problem_.substr(colon + 2);
        problemOffset_ = std::min(position ? position - 1 : 0, textSize());
        return false;
    }

    // "OFFSET problem" of what stopped the parse, if anything did.
    std::optional<std::pair<std::size_t, std::string>> problem() const {
        if (problem_.empty()) return std::nullopt;
        return std::make_pair(problemOffset_, problem_);
    }

private:
    struct Frame {
        std::size_t container;
        bool array;
        std::string key;
        std::size_t keyOffset;
    };

    template <typename Event>
    bool scalar(Event event) {
        beginValue(0);
        return event();
    }

    bool startContainer(bool array) {
        // Refused before the library's builder goes a level deeper, so that
        // no document deeper than the limit is ever built.
        if (frames_.size() >= kMaxJsonDepth) {
            problem_ = "values " + tooDeepProblem();
            problemOffset_ = offsetBefore(1);
            return false;
        }
        const std::size_t node = beginValue(1);
        target_.nodes_[node].container = target_.containers_.size();
        target_.containers_.emplace_back();
        frames_.push_back({target_.nodes_[node].container, array, {}, 0});
        return true;
    }

    // Members were placed at their key; array elements and the root here.
    std::size_t beginValue(int backOff) {
        const bool atKey = !frames_.empty() && !frames_.back().array;
        const std::size_t node = target_.nodes_.size();
        target_.nodes_.push_back({atKey ? frames_.back().keyOffset : offsetBefore(backOff)});
        if (!frames_.empty()) {
            LocatedJson::Container &container = target_.containers_[frames_.back().container];
            if (atKey) {
                container.members[frames_.back().key] = node;
            } else {
                container.elements.push_back(node);
            }
        }
        return node;
    }

    std::size_t offsetBefore(int backOff) const {
        return static_cast<std::size_t>(std::max(cursor_.at - backOff, cursor_.begin) - cursor_.begin);
    }
    std::size_t textSize() const { return static_cast<std::size_t>(cursor_.end - cursor_.begin); }

    Dom dom_;
    LocatedJson &target_;
    const Cursor &cursor_;
    std::vector<Frame> frames_;
    std::size_t problemOffset_ = 0;
    std::string problem_;
};

LocatedJson::LocatedJson(const std::string &text, std::string source) : source_(std::move(source)) {
    lineStarts_.push_back(0);
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\n') lineStarts_.push_back(i + 1);
    }
    Cursor cursor{text.data(), text.data(), text.data() + text.size()};
    PlaceRecorder recorder(*this, cursor);
    Json::sax_parse(TrackingIterator{text.data(), &cursor}, TrackingIterator{cursor.end, &cursor}, &recorder);
    if (const auto problem = recorder.problem()) throw HostError(placeAt(problem->first) + ": " + problem->second);
}

std::string LocatedJson::placeAt(std::size_t offset) const {
    const auto next = std::upper_bound(lineStarts_.begin(), lineStarts_.end(), offset);
    const std::size_t line = static_cast<std::size_t>(next - lineStarts_.begin());
    const std::size_t column = offset - *(next - 1) + 1;
    return source_ + ":" + std::to_string(line) + ":" + std::to_string(column);
}

std::string LocatedJson::where(const std::string &pointer) const {
    if (nodes_.empty()) return source_;
    std::size_t node = 0;
    for (const std::string &token : pointerTokens(pointer)) {
        if (nodes_[node].container == kNone) break;
        const Container &container = containers_[nodes_[node].container];
        std::size_t index = 0;
        if (const auto member = container.members.find(token); member != container.members.end()) {
            node = member->second;
        } else if (std::from_chars(token.data(), token.data() + token.size(), index).ptr == token.data() + token.size() &&
                   !token.empty() && index < container.elements.size()) {
            node = container.elements[index];
        } else {
            break;
        }
    }
    return placeAt(nodes_[node].offset);
}

}  // namespace qzhost
