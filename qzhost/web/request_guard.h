// Which requests the panel server answers. It listens on 127.0.0.1 only, but
// a page from any site can still reach it through the browser: by rebinding
// its own name to 127.0.0.1 (then the Host header names that site) or by
// posting a form across sites (then the Origin header does, or the browser's
// Sec-Fetch-Site says cross-site). A form cannot send JSON, and the page
// sends nothing else.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace httplib {
struct Request;
}

namespace qzhost {

// A Host header of 127.0.0.1:PORT or localhost:PORT; on port 80 also without
// the port, as browsers leave the default port out.
bool isOwnHost(std::string_view host, int port);

// An Origin header of http:// and an own host.
bool isOwnOrigin(std::string_view origin, int port);

struct Refusal {
    int status;
    std::string message;
};

// Why the server refuses a request, judged on its headers before any of its
// body is read; nullopt when it may be answered. Any request but a GET or
// HEAD (which carry no body) MUST come from the page itself (an own Origin
// or, without one, Sec-Fetch-Site: same-origin), MUST be application/json,
// and MUST declare its length, with no content or transfer encoding: the
// page sends no other, and a declared length is the only one the server can
// hold a body to before reading it (a compressed body is as long as it
// unpacks to).
std::optional<Refusal> refusalOf(const httplib::Request &request, int port);

}  // namespace qzhost
