#include "qzhost/base/json.h"

#include "qzhost/base/error.h"

namespace qzhost {

std::string tooDeepProblem() { return "nest deeper than " + std::to_string(kMaxJsonDepth) + " levels"; }

Json parseLimitedJson(std::string_view text, const std::string &subject) {
    bool tooDeep = false;
    // The callback is told the depth of each container before it is entered;
    // refusing it keeps the builder from growing it, and the parser itself
    // keeps its nesting on the heap.
    const auto limitDepth = [&tooDeep](int depth, Json::parse_event_t event, Json &) {
        const bool opens = event == Json::parse_event_t::object_start || event == Json::parse_event_t::array_start;
        if (opens && static_cast<std::size_t>(depth) >= kMaxJsonDepth) tooDeep = true;
        return !tooDeep;
    };
    Json document = Json::parse(text, limitDepth, false);
    if (tooDeep) throw HostError(subject + " " + tooDeepProblem());
    return document;
}

}  // namespace qzhost
