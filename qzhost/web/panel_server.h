// The web page of a panel: an HTTP server on 127.0.0.1 that serves the page
// and answers its requests through a PanelSession, and the shelf drawer's
// through a ShelfSession of the same panel.
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "qzhost/web/animation_session.h"
#include "qzhost/web/change_feed.h"
#include "qzhost/web/frame_strip.h"
#include "qzhost/web/panel_session.h"
#include "qzhost/web/request_guard.h"
#include "qzhost/web/shelf_session.h"

namespace httplib {
class Server;
struct Request;
struct Response;
}

namespace qzhost {

// The longest request body the server reads, by its declared length: the
// request guard lets no body through without one.
inline constexpr size_t kMaxRequestBody = 64 * 1024;

class PanelServer {
public:
    explicit PanelServer(PanelSession &session);
    ~PanelServer();
    PanelServer(const PanelServer &) = delete;
    PanelServer &operator=(const PanelServer &) = delete;

    // Binds to 127.0.0.1 on the port, or on a free port when it is 0, and
    // returns the port; throws HostError when that fails.
    int bind(int port);
    // Serves until stop() is called (from any thread, before run() too),
    // which also closes the connections still open.
    void run();
    void stop();

    // Every method and path the server answers, in the order they were added.
    struct Route {
        std::string method;
        std::string path;
    };
    const std::vector<Route> &routes() const { return routes_; }

private:
    using Handler = std::function<void(const httplib::Request &, httplib::Response &)>;
    void addRoutes();
    void addEventStream();
    void addAnimationRoutes();
    // The handler of a request that may change what the pages show: it
    // answers through the action and then tells every open page.
    template <typename Action>
    auto changing(Action action);
    // Each route is added through these, so that routes() lists it.
    void get(const std::string &path, Handler handler);
    void post(const std::string &path, Handler handler);

    PanelSession &session_;
    ShelfSession shelf_;
    AnimationSession animation_;
    FrameStrip strip_;
    ChangeFeed feed_;
    std::unique_ptr<httplib::Server> server_;
    std::vector<Route> routes_;
    int port_ = 0;
    // httplib forgets a stop that comes before its accept loop has begun;
    // these let stop() and run() meet whichever comes first.
    std::atomic<bool> stopping_{false}, runEntered_{false}, runReturned_{false};
};

}  // namespace qzhost
