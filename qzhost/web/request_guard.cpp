#include "qzhost/web/request_guard.h"

#include <httplib.h>

#include <algorithm>
#include <cctype>

namespace qzhost {
namespace {

constexpr int kForbidden = 403, kLengthRequired = 411, kUnsupportedType = 415;

bool equalIgnoringCase(std::string_view a, std::string_view b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](unsigned char x, unsigned char y) {
        return std::tolower(x) == std::tolower(y);
    });
}

bool isOwnName(std::string_view name) {
    return equalIgnoringCase(name, "127.0.0.1") || equalIgnoringCase(name, "localhost");
}

// "application/json", with parameters such as "; charset=utf-8" or not.
bool isJson(std::string_view type) {
    const std::string_view media = type.substr(0, type.find(';'));
    const size_t end = media.find_last_not_of(" \t");
    return equalIgnoringCase(media.substr(0, end == std::string_view::npos ? 0 : end + 1), "application/json");
}

std::optional<Refusal> refusalOfSending(const httplib::Request &request, int port) {
    const std::string origin = request.get_header_value("Origin");
    const bool fromPage = origin.empty() ? request.get_header_value("Sec-Fetch-Site") == "same-origin"
                                         : isOwnOrigin(origin, port);
    if (!fromPage) return Refusal{kForbidden, "cross-site request refused"};
    if (!isJson(request.get_header_value("Content-Type"))) {
        return Refusal{kUnsupportedType, "the request body must be application/json"};
    }
    const std::string encoding = request.get_header_value("Content-Encoding");
    if (!encoding.empty() && !equalIgnoringCase(encoding, "identity")) {
        return Refusal{kUnsupportedType, "the request body may not be compressed (" + encoding + ")"};
    }
    if (request.has_header("Transfer-Encoding") || !request.has_header("Content-Length")) {
        return Refusal{kLengthRequired, "the request needs a Content-Length and no Transfer-Encoding"};
    }
    return std::nullopt;
}

}  // namespace

bool isOwnHost(std::string_view host, int port) {
    const size_t colon = host.rfind(':');
    if (colon == std::string_view::npos) return port == 80 && isOwnName(host);
    return host.substr(colon + 1) == std::to_string(port) && isOwnName(host.substr(0, colon));
}

bool isOwnOrigin(std::string_view origin, int port) {
    constexpr std::string_view scheme = "http://";
    return origin.size() > scheme.size() && equalIgnoringCase(origin.substr(0, scheme.size()), scheme) &&
           isOwnHost(origin.substr(scheme.size()), port);
}

std::optional<Refusal> refusalOf(const httplib::Request &request, int port) {
    if (!isOwnHost(request.get_header_value("Host"), port)) return Refusal{kForbidden, "unknown host name"};
    if (request.method == "GET" || request.method == "HEAD") return std::nullopt;
    return refusalOfSending(request, port);
}

}  // namespace qzhost
