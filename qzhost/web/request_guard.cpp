#include "qzhost/web/request_guard.h"

#include <algorithm>
#include <cctype>
#include <string>

namespace qzhost {
namespace {

bool equalIgnoringCase(std::string_view a, std::string_view b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](unsigned char x, unsigned char y) {
        return std::tolower(x) == std::tolower(y);
    });
}

}  // namespace

bool isOwnHost(std::string_view host, int port) {
    const size_t colon = host.rfind(':');
    if (colon == std::string_view::npos || host.substr(colon + 1) != std::to_string(port)) return false;
    const std::string_view name = host.substr(0, colon);
    return equalIgnoringCase(name, "127.0.0.1") || equalIgnoringCase(name, "localhost");
}

bool isOwnOrigin(std::string_view origin, int port) {
    constexpr std::string_view scheme = "http://";
    return origin.size() > scheme.size() && equalIgnoringCase(origin.substr(0, scheme.size()), scheme) &&
           isOwnHost(origin.substr(scheme.size()), port);
}

}  // namespace qzhost
