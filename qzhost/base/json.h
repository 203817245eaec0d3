// The one JSON type of the host: objects keep their members in the order
// written, so that files read back and written again keep their shape.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

namespace qzhost {

using Json = nlohmann::ordered_json;

// How deep values read from outside may nest. Copying, comparing and writing
// a document recurse once per level, so a few kilobytes of text nested far
// deeper would overflow the stack; no scene or preset comes near this.
inline constexpr std::size_t kMaxJsonDepth = 64;

// The end of a message about text that nests deeper: "SUBJECT nest deeper...".
std::string tooDeepProblem();

// Text from outside read as JSON: a discarded value (is_discarded()) when it
// is not JSON. Throws HostError "SUBJECT nest deeper than 64 levels" for
// values nested deeper, found before they are built.
Json parseLimitedJson(std::string_view text, const std::string &subject);

}  // namespace qzhost
