// JSON read with the place of every value in its source text, so that an
// error about a value can name the file, line and column where it stands.
#pragma once

#include <map>
#include <string>

#include "qzhost/base/json.h"

namespace qzhost {

class LocatedJson {
public:
    // Throws HostError "SOURCE:LINE:COLUMN: problem" on a syntax error.
    LocatedJson(const std::string &text, std::string source);

    const Json &root() const { return root_; }
    const std::string &source() const { return source_; }

    // "SOURCE:LINE:COLUMN" of the value at a JSON pointer ("/frames/width"),
    // or of the nearest enclosing value that has a place.
    std::string where(const std::string &pointer) const;

    struct Place {
        int line;
        int column;
    };
private:
    friend class PlaceRecorder;

    std::string source_;
    Json root_;
    std::map<std::string, Place> places_;
};

}  // namespace qzhost
