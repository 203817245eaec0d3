// Which requests the panel server answers. It listens on 127.0.0.1 only, but
// a page from any site can still reach it through the browser: by rebinding
// its own name to 127.0.0.1 (then the Host header names that site) or by
// posting a form across sites (then the Origin header does).
#pragma once

#include <string_view>

namespace qzhost {

// A Host header of 127.0.0.1:PORT or localhost:PORT.
bool isOwnHost(std::string_view host, int port);

// An Origin header of http://127.0.0.1:PORT or http://localhost:PORT.
bool isOwnOrigin(std::string_view origin, int port);

}  // namespace qzhost
