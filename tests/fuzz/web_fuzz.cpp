// The panel's web API against the real module and a real preset shelf:
// whatever a page (or anything else on this machine) sends, the server
// answers and the module survives. Inputs with an odd first byte are a body
// for one route, sent plainly, chunked or compressed; the rest are raw bytes
// on a socket, with "PORT" standing for the panel's port so that requests
// can pass the host check.
#include <httplib.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <regex>
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
        const auto shelf = std::filesystem::temp_directory_path() / ("web-fuzz-" + std::to_string(getpid()) + ".sqlite");
        std::filesystem::remove(shelf);
        host.openShelf(shelf);  // before the panel, so that the module subscribes
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

const char *const kRoutes[] = {"/api/value",       "/api/zoom",         "/api/button",        "/api/save",
                               "/api/panel",       "/api/preview",      "/api/select",        "/api/shelf",
                               "/api/shelf/apply", "/api/shelf/rename", "/api/shelf/delete",  "/api/shelf/close",
                               "/api/shelf/thumbnail?id=1", "/api/animation", "/api/animation/block",
                               "/api/animation/frame?frame=0&side=16&view=1"};

enum class Sending { Plain, Chunked, Compressed, Get };

void sendToRoute(const RunningPanel &running, uint8_t mode, const std::string &body) {
    httplib::Client client("127.0.0.1", running.port);
    client.set_read_timeout(5, 0);
    client.set_default_headers({{"Origin", "http://127.0.0.1:" + std::to_string(running.port)}});
    const char *route = kRoutes[(mode >> 1 & 0xF) % std::size(kRoutes)];
    switch (static_cast<Sending>(mode >> 5 & 3)) {
    case Sending::Get:
        client.Get(route);
        break;
    case Sending::Compressed:
        client.set_compress(true);
        [[fallthrough]];
    case Sending::Plain:
        client.Post(route, body, "application/json");
        break;
    case Sending::Chunked:
        client.Post(route, [&](size_t offset, httplib::DataSink &sink) {
            sink.write(body.data() + offset, body.size() - offset);
            sink.done();
            return true;
        }, "application/json");
        break;
    }
}

void sendRaw(const RunningPanel &running, const std::string &bytes) {
    const std::string request = std::regex_replace(bytes, std::regex("PORT"), std::to_string(running.port));
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(running.port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const timeval timeout{5, 0};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    if (connect(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0) {
        send(fd, request.data(), request.size(), MSG_NOSIGNAL);
        shutdown(fd, SHUT_WR);
        char answer[4096];
        while (recv(fd, answer, sizeof answer, 0) > 0) {
        }
    }
    close(fd);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    RunningPanel &running = panel();
    if (size == 0) return 0;
    const std::string rest(reinterpret_cast<const char *>(data) + 1, size - 1);
    if (data[0] & 1) {
        sendToRoute(running, data[0], rest);
    } else {
        sendRaw(running, rest);
    }
    return 0;
}
