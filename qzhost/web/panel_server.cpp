#include "qzhost/web/panel_server.h"

#include <httplib.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <charconv>
#include <chrono>
#include <filesystem>
#include <memory>
#include <optional>
#include <thread>
#include <utility>

#include "qzhost/base/error.h"
#include "qzhost/base/json.h"
#include "qzhost/web/assets.h"

namespace qzhost {
namespace {

constexpr const char *kLocalAddress = "127.0.0.1";
constexpr const char *kJsonType = "application/json";

// Each connection has a worker for as long as it is open, so a client that
// sends slowly holds one: many workers, and a short wait for each piece of
// a request (the page sends each whole), keep the others answered.
constexpr size_t kConnectionWorkers = 64;
constexpr time_t kReadTimeoutSeconds = 2;

// The page loads nothing from elsewhere and may not be framed by other sites;
// its icon is inline, and it shows rendered frames from the blobs it fetched.
constexpr const char *kContentPolicy = "default-src 'self'; img-src 'self' data: blob:; frame-ancestors 'none'";

// An open event stream says something this often even when nothing changes,
// so that a page that went away frees its worker.
constexpr std::chrono::seconds kEventHeartbeat{10};

// Paths and preset names may hold bytes that are not UTF-8 (a scene in such
// a folder); they are shown with U+FFFD in their place.
void sendJson(httplib::Response &response, const Json &body, int status = 200) {
    response.status = status;
    response.set_content(body.dump(-1, ' ', false, Json::error_handler_t::replace), kJsonType);
}

Json requestObject(const httplib::Request &request) {
    Json body;
    try {
        body = parseLimitedJson(request.body, "the request body's values");
    } catch (const HostError &e) {
        throw BadRequest(e.what());
    }
    if (!body.is_object()) throw BadRequest("the request body must be a JSON object");
    return body;
}

template <typename Number>
Number field(const Json &body, const char *name) {
    const auto found = body.find(name);
    const bool fits = found != body.end() && (std::is_floating_point_v<Number> ? found->is_number()
                                                                                : found->is_number_integer());
    if (!fits) throw BadRequest(std::string("the request needs a number '") + name + "'");
    if constexpr (std::is_integral_v<Number>) {
        if (!std::in_range<Number>(found->template get<long long>())) {
            throw BadRequest(std::string("'") + name + "' is out of range");
        }
    }
    return found->template get<Number>();
}

std::string text(const Json &body, const char *name) {
    const auto found = body.find(name);
    if (found == body.end() || !found->is_string()) {
        throw BadRequest(std::string("the request needs a text '") + name + "'");
    }
    return found->get<std::string>();
}

// A whole number from the query string; `what` says what it is for the
// message when it is missing or no such number.
template <typename Integer>
Integer queryNumber(const httplib::Request &request, const char *name, const char *what) {
    const std::string given = request.get_param_value(name);
    Integer number = 0;
    const auto [end, error] = std::from_chars(given.data(), given.data() + given.size(), number);
    if (given.empty() || error != std::errc() || end != given.data() + given.size()) {
        throw BadRequest(std::string("the request needs ") + what + " '" + name + "'");
    }
    return number;
}

int64_t presetId(const httplib::Request &request) { return queryNumber<int64_t>(request, "id", "a preset number"); }

PanelSession::HistoryStep historyStep(const std::string &name) {
    using Step = PanelSession::HistoryStep;
    if (name == "back") return Step::back;
    if (name == "forward") return Step::forward;
    if (name == "reset") return Step::reset;
    throw BadRequest("'step' must be \"back\", \"forward\" or \"reset\"");
}

// Answers a request through a session; a request naming what the panel
// lacks becomes a 400, a gesture on a view that has moved on a 409, any
// other failure (a save, the database) a 500, each with its message.
template <typename Action>
httplib::Server::Handler answer(Action action) {
    return [action](const httplib::Request &request, httplib::Response &response) {
        try {
            action(request, response);
        } catch (const StaleView &e) {
            sendJson(response, {{"error", e.what()}, {"stale", true}}, 409);
        } catch (const BadRequest &e) {
            sendJson(response, {{"error", e.what()}}, 400);
        } catch (const std::exception &e) {
            sendJson(response, {{"error", e.what()}}, 500);
        }
    };
}

// Shuts down this process's open connections on 127.0.0.1:port, which
// wakes the workers that read from them: stopping the server waits for its
// workers, and a client that sends slowly would otherwise keep one reading.
void shutDownConnectionsTo(int port) {
    std::error_code error;
    for (const auto &entry : std::filesystem::directory_iterator("/proc/self/fd", error)) {
        int fd = 0;
        const std::string name = entry.path().filename().string();
        if (std::from_chars(name.data(), name.data() + name.size(), fd).ec != std::errc()) continue;
        sockaddr_in local{}, peer{};
        socklen_t localSize = sizeof local, peerSize = sizeof peer;
        const bool ours = getsockname(fd, reinterpret_cast<sockaddr *>(&local), &localSize) == 0 &&
                          local.sin_family == AF_INET && ntohs(local.sin_port) == port &&
                          getpeername(fd, reinterpret_cast<sockaddr *>(&peer), &peerSize) == 0;
        if (ours) shutdown(fd, SHUT_RDWR);
    }
}

}  // namespace

PanelServer::PanelServer(PanelSession &session)
    : session_(session),
      shelf_(session),
      animation_(session),
      strip_(session),
      server_(std::make_unique<httplib::Server>()) {
    server_->set_payload_max_length(kMaxRequestBody);
    server_->new_task_queue = [] { return new httplib::ThreadPool(kConnectionWorkers); };
    server_->set_read_timeout(kReadTimeoutSeconds);
    server_->set_keep_alive_timeout(1);
    // Only SO_REUSEADDR, for a quick restart: httplib would also set
    // SO_REUSEPORT, with which a second panel on the same port is accepted
    // and the two share its requests at random.
    server_->set_socket_options([](int socket) {
        const int yes = 1;
        setsockopt(socket, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    });
    server_->set_pre_routing_handler([this](const httplib::Request &request, httplib::Response &response) {
        const std::optional<Refusal> refusal = refusalOf(request, port_);
        if (!refusal) return httplib::Server::HandlerResponse::Unhandled;
        // The body, if any, is left unread: the connection cannot be reused.
        response.set_header("Connection", "close");
        sendJson(response, {{"error", refusal->message}}, refusal->status);
        return httplib::Server::HandlerResponse::Handled;
    });
    addRoutes();
}

PanelServer::~PanelServer() = default;

template <typename Action>
auto PanelServer::changing(Action action) {
    return answer([this, action](const httplib::Request &request, httplib::Response &response) {
        action(request, response);
        feed_.publish();
    });
}

// Server-sent events: each says {"view": version, "change": count}; the
// first comes at once, the next whenever the count moves on. A page redraws
// when the view has moved past the one it shows, and re-reads the shelf.
void PanelServer::addEventStream() {
    get("/api/events", [this](const httplib::Request &, httplib::Response &response) {
        response.set_header("Cache-Control", "no-store");
        auto seen = std::make_shared<std::optional<unsigned long>>();
        response.set_chunked_content_provider("text/event-stream", [this, seen](size_t, httplib::DataSink &sink) {
            const unsigned long now = *seen ? feed_.waitPast(**seen, kEventHeartbeat) : feed_.count();
            if (feed_.stopped()) {
                sink.done();
                return true;
            }
            const std::string message = now == *seen ? std::string(": idle\n\n")
                                                     : "data: " + Json{{"view", session_.view()}, {"change", now}}.dump() + "\n\n";
            *seen = now;
            return sink.write(message.data(), message.size());
        });
    });
}

void PanelServer::addRoutes() {
    const auto asset = [](std::string_view text, const char *type) {
        return [text, type](const httplib::Request &, httplib::Response &response) {
            response.set_header("Content-Security-Policy", kContentPolicy);
            response.set_content(text.data(), text.size(), type);
        };
    };
    get("/", asset(assets::page_html, "text/html; charset=utf-8"));
    get("/panel.js", asset(assets::panel_js, "text/javascript; charset=utf-8"));
    get("/panel.css", asset(assets::panel_css, "text/css; charset=utf-8"));
    addEventStream();

    get("/api/panel", answer([this](const auto &, auto &response) { sendJson(response, session_.describe()); }));
    // The preview travels as raw RGB rows; the page puts them on a canvas.
    get("/api/preview", answer([this](const auto &, auto &response) {
        const auto [raster, view] = session_.drawView();
        response.set_header("Cache-Control", "no-store");
        response.set_header("X-Preview-Width", std::to_string(raster.width));
        response.set_header("X-Preview-Height", std::to_string(raster.height));
        response.set_header("X-View-Version", std::to_string(view));
        response.set_content(reinterpret_cast<const char *>(raster.rgb.data()), raster.rgb.size(),
                             "application/octet-stream");
    }));
    post("/api/value", changing([this](const auto &request, auto &response) {
        const Json body = requestObject(request);
        sendJson(response, session_.setValue(field<unsigned long>(body, "id"), field<double>(body, "value")));
    }));
    // "view", when given, is the version of the view the gesture was made on.
    post("/api/zoom", changing([this](const auto &request, auto &response) {
        const Json body = requestObject(request);
        const int box[4] = {field<int>(body, "x0"), field<int>(body, "y0"), field<int>(body, "x1"),
                            field<int>(body, "y1")};
        const std::optional<unsigned long> madeOn =
            body.contains("view") ? std::optional(field<unsigned long>(body, "view")) : std::nullopt;
        sendJson(response, session_.previewGesture(field<int>(body, "x"), field<int>(body, "y"), box, madeOn));
    }));
    post("/api/button", changing([this](const auto &request, auto &response) {
        sendJson(response, session_.pressButton(field<unsigned long>(requestObject(request), "id")));
    }));
    post("/api/history", changing([this](const auto &request, auto &response) {
        sendJson(response, session_.goInHistory(historyStep(text(requestObject(request), "step"))));
    }));
    // Event 4 of the panel: the page has become the user's focus.
    post("/api/select", answer([this](const auto &, auto &response) { sendJson(response, session_.select()); }));

    get("/api/shelf", answer([this](const auto &, auto &response) { sendJson(response, shelf_.describe()); }));
    get("/api/shelf/thumbnail", answer([this](const auto &request, auto &response) {
        const std::vector<unsigned char> png = shelf_.thumbnail(presetId(request));
        response.set_header("Cache-Control", "no-store");
        response.set_content(reinterpret_cast<const char *>(png.data()), png.size(), "image/png");
    }));
    post("/api/shelf/apply", changing([this](const auto &request, auto &response) {
        sendJson(response, shelf_.apply(field<int64_t>(requestObject(request), "id")));
    }));
    post("/api/shelf/rename", changing([this](const auto &request, auto &response) {
        const Json body = requestObject(request);
        sendJson(response, shelf_.rename(field<int64_t>(body, "id"), text(body, "name")));
    }));
    post("/api/shelf/delete", changing([this](const auto &request, auto &response) {
        sendJson(response, shelf_.remove(field<int64_t>(requestObject(request), "id")));
    }));
    post("/api/shelf/close", changing([this](const auto &, auto &response) { sendJson(response, shelf_.close()); }));
    post("/api/save", answer([this](const auto &, auto &response) {
        sendJson(response, {{"path", session_.save().string()}});
    }));
    addAnimationRoutes();
}

// The page's animation section: each value's constant or keys, the scene's
// frames, and those frames rendered as `qzhost render` renders them.
void PanelServer::addAnimationRoutes() {
    get("/api/animation", answer([this](const auto &, auto &response) {
        Json described = animation_.describe();
        described["strip"] = strip_.describe();
        sendJson(response, described);
    }));
    // The frame as a PNG file, for the version "view" of the view; its
    // longer side is "side" pixels, or the frame's own when that is less.
    get("/api/animation/frame", answer([this](const auto &request, auto &response) {
        const auto view = queryNumber<unsigned long>(request, "view", "the version of the view");
        const std::vector<unsigned char> png = strip_.png(queryNumber<int>(request, "frame", "a frame number"),
                                                          queryNumber<int>(request, "side", "a size in pixels"), view);
        response.set_header("Cache-Control", "no-store");
        response.set_header("X-View-Version", std::to_string(view));
        response.set_content(reinterpret_cast<const char *>(png.data()), png.size(), "image/png");
    }));
    // {"id": control, "value": V} or {"id": control, "keys": [...]}: the
    // parameter block that replaces the control's, as a scene file holds it.
    post("/api/animation/block", changing([this](const auto &request, auto &response) {
        Json block = requestObject(request);
        const auto id = field<unsigned long>(block, "id");
        block.erase("id");
        sendJson(response, animation_.setBlock(id, std::move(block)));
    }));
}

void PanelServer::get(const std::string &path, Handler handler) {
    routes_.push_back({"GET", path});
    server_->Get(path, std::move(handler));
}

void PanelServer::post(const std::string &path, Handler handler) {
    routes_.push_back({"POST", path});
    server_->Post(path, std::move(handler));
}

int PanelServer::bind(int port) {
    const bool bound = port == 0 ? (port = server_->bind_to_any_port(kLocalAddress)) > 0
                                 : server_->bind_to_port(kLocalAddress, port);
    if (!bound) {
        throw HostError("cannot listen on " + std::string(kLocalAddress) + ":" + std::to_string(port) +
                        " (is the port in use? --port 0 picks a free one)");
    }
    port_ = port;
    return port_;
}

void PanelServer::run() {
    runEntered_ = true;
    if (!stopping_) server_->listen_after_bind();
    runReturned_ = true;
}

// A run() that has not seen stopping_ is about to listen: its loop is waited
// for, so that the stop reaches it.
void PanelServer::stop() {
    stopping_ = true;
    feed_.stop();
    while (runEntered_ && !runReturned_ && !server_->is_running()) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    server_->stop();
    shutDownConnectionsTo(port_);
}

}  // namespace qzhost
