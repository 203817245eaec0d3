// The one JSON type of the host: objects keep their members in the order
// written, so that files read back and written again keep their shape.
#pragma once

#include <nlohmann/json.hpp>

namespace qzhost {

using Json = nlohmann::ordered_json;

}  // namespace qzhost
