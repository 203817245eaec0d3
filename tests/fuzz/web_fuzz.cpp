// The panel's web API against the real module: whatever a page (or anything
// else on this machine) sends, the server answers and the module survives.
// Half the inputs are raw bytes on the socket, the rest a body for one route.
#include <httplib.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <thread>

#include "qzhost/scene/loaded_scene.h"
#include "qzhost/services/host.h"
#include "qzhost/web/panel_server.h"

namespace {

using namespace qzhost;

struct RunningPanel {
    Host host;
    std::unique_ptr<LoadedScene> scene;
    std::unique_ptr<PanelSession> session;
    std::unique_ptr<PanelServer> server;
    std::thread serving;
    int port = 0;

    RunningPanel() {
        SceneDocument document;
        FilterEntry filter;
        filter.module = VORLUX_MODULE_FILE;
        document.filters.push_back(filter);
        scene = std::make_unique<LoadedScene>(host, document, "");
        session = std::make_unique<PanelSession>(*scene, "/dev/null/unsaved.json", Size{32, 24});
        server = std::make_unique<PanelServer>(*session);
        port = server->bind(0);
        // Bound already: requests wait in the socket's queue until it listens.
        serving = std::thread([this] { server->run(); });
    }
};

RunningPanel &panel() {
    static RunningPanel *running = new RunningPanel;  // lives as long as the fuzzer
    return *running;
}

const char *const kRoutes[] = {"/api/value", "/api/zoom", "/api/button", "/api/save", "/api/panel", "/api/preview"};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    RunningPanel &running = panel();
    if (size == 0) return 0;
    const std::string rest(reinterpret_cast<const char *>(data) + 1, size - 1);
    if (data[0] & 1) {
        httplib::Client client("127.0.0.1", running.port);
        client.set_read_timeout(5, 0);
        const char *route = kRoutes[(data[0] >> 1) % std::size(kRoutes)];
        if (data[0] & 0x80) client.Get(route);
        else client.Post(route, rest, "application/json");
        return 0;
    }
    // Raw bytes, as a request from anything on this machine would come.
    httplib::Client client("127.0.0.1", running.port);
    client.set_read_timeout(5, 0);
    httplib::Request request;
    request.method = "POST";
    request.path = "/api/value";
    request.set_header("Origin", rest.substr(0, 64));
    request.body = rest;
    client.send(request);
    return 0;
}
