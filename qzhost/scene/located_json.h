// JSON read with the place of every value in its source text, so that an
// error about a value can name the file, line and column where it stands.
#pragma once

#include <cstddef>
#include <map>
#include <string>
#include <vector>

#include "qzhost/base/json.h"

namespace qzhost {

class LocatedJson {
public:
    // Throws HostError "SOURCE:LINE:COLUMN: problem" on a syntax error or on
    // values nested deeper than kMaxJsonDepth. Takes time and memory in
    // proportion to the text.
    LocatedJson(const std::string &text, std::string source);

    const Json &root() const { return root_; }
    const std::string &source() const { return source_; }

    // "SOURCE:LINE:COLUMN" of the value at a JSON pointer ("/frames/width"),
    // or of the nearest enclosing value that has a place.
    std::string where(const std::string &pointer) const;

private:
    friend class PlaceRecorder;

    static constexpr std::size_t kNone = static_cast<std::size_t>(-1);

    // A value's place as a byte offset; lines and columns are worked out
    // only for the places that end up in a message.
    struct Node {
        std::size_t offset;
        std::size_t container = kNone;  // index into containers_ for arrays and objects
    };
    // The values inside an array or object, as indices into nodes_.
    struct Container {
        std::vector<std::size_t> elements;
        std::map<std::string, std::size_t> members;
    };

    std::string placeAt(std::size_t offset) const;

    std::string source_;
    Json root_;
    std::vector<std::size_t> lineStarts_;
    std::vector<Node> nodes_;
    std::vector<Container> containers_;
};

}  // namespace qzhost
