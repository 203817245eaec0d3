// The panel's web side: which requests the server answers, and the session
// that turns the page's requests into calls on the module's panel.
#include <gtest/gtest.h>

#include <httplib.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <algorithm>
#include <filesystem>
#include <future>
#include <limits>
#include <mutex>
#include <set>
#include <thread>

#include "qzhost/services/host.h"
#include "qzhost/web/panel_server.h"
#include "qzhost/web/panel_session.h"
#include "qzhost/web/request_guard.h"
#include "qzhost/web/shelf_session.h"
#include "qzhost/web/view_history.h"
#include "tests/session_helpers.h"
#include "tests/view_blocks.h"

using namespace qzhost;

namespace {

constexpr unsigned long kCenterX = 0x8001, kCenterY = 0x8002, kZoom = 0x8003, kPreview = 0x8004, kOpenShelf = 0x8006;

bool redraws(const Json &answer) { return answer.at("redraw").get<bool>(); }

TEST(RequestGuard, OnlyOurOwnAddressIsAnswered) {
    for (const char *host : {"127.0.0.1:8470", "localhost:8470", "LocalHost:8470"}) {
        EXPECT_TRUE(isOwnHost(host, 8470)) << host;
    }
    for (const char *host : {"", "127.0.0.1", "127.0.0.1:8471", "127.0.0.1:84700", "evil.example:8470",
                             "127.0.0.1.evil.example:8470", "localhost:8470:8470", "[::1]:8470"}) {
        EXPECT_FALSE(isOwnHost(host, 8470)) << host;
    }
    EXPECT_TRUE(isOwnOrigin("http://127.0.0.1:8470", 8470));
    EXPECT_TRUE(isOwnOrigin("http://localhost:8470", 8470));
    for (const char *origin : {"null", "http://", "https://127.0.0.1:8470", "http://evil.example:8470",
                               "http://127.0.0.1:8470/", "http://localhost:9000"}) {
        EXPECT_FALSE(isOwnOrigin(origin, 8470)) << origin;
    }
    // Browsers leave the default port out of Host and Origin.
    EXPECT_TRUE(isOwnHost("127.0.0.1", 80));
    EXPECT_TRUE(isOwnHost("localhost:80", 80));
    EXPECT_TRUE(isOwnOrigin("http://localhost", 80));
    EXPECT_FALSE(isOwnHost("evil.example", 80));
    EXPECT_FALSE(isOwnHost("localhost:", 80));
}

TEST(Sizes, PreviewSidesFromOneTo1024) {
    EXPECT_EQ(parsePreviewSize("1024x1").width, 1024);
    EXPECT_EQ(parsePreviewSize("3X7").height, 7);
    for (const char *bad : {"", "320", "320x", "0x10", "10x0", "10x-1", "1025x10", "10x1025", "10x10x", "axb", "10 x 10",
                            "99999999999x1"}) {
        EXPECT_THROW(parsePreviewSize(bad), HostError) << bad;
    }
}

TEST(Sizes, ThePreviewTakesTheFramesShapeWithinItsSpace) {
    const auto fitted = [](Size box, int width, int height, double pixelAspect = 1.0) {
        const Size size = previewSizeFor(box, FrameSettings{.width = width, .height = height, .pixelAspect = pixelAspect});
        return std::pair(size.width, size.height);
    };
    EXPECT_EQ(fitted({320, 240}, 1280, 720), std::pair(320, 180));
    EXPECT_EQ(fitted({320, 240}, 64, 48), std::pair(320, 240));
    EXPECT_EQ(fitted({320, 240}, 720, 1280), std::pair(135, 240));
    EXPECT_EQ(fitted({320, 240}, 640, 720, 2.0), std::pair(320, 180));
    EXPECT_EQ(fitted({1, 1024}, 32768, 1), std::pair(1, 1));
    EXPECT_EQ(fitted({320, 240}, 11, 7), std::pair(320, 204)) << "203.6 rounds to the nearest";
}

class Session : public ::testing::Test {
protected:
    Json valueOf(unsigned long id) { return describedValue(session_, id); }
    // Zoom keyed from its value at time 0 on an exponential curve, which
    // cannot pass through 0; the centre at its default.
    std::vector<Json> keyZoom(double atZero) {
        HostedFilter &filter = scene_.filter(0);
        filter.load({constantBlock("Center.X", -0.222), constantBlock("Center.Y", 0.8),
                     {{"channel", "Zoom"}, {"keys", {{{"time", 0}, {"value", atZero}, {"curve", "exponential"}},
                                                     {{"time", 1}, {"value", 60}}}}}});
        return filter.save();
    }

    Host host_;
    LoadedScene scene_{host_, oneVorluxFilter(), {}};
    // One scene file per test, since ctest runs the tests side by side.
    std::filesystem::path saved_ = std::filesystem::path(::testing::TempDir()) /
                                   (::testing::UnitTest::GetInstance()->current_test_info()->name() + std::string(".json"));
    PanelSession session_{scene_, saved_, {64, 48}};
};

TEST_F(Session, DescribesControlsInTheGroupsOrderWithValuesAndGuides) {
    const Json panel = session_.describe();
    EXPECT_EQ(panel["title"], "Vorlux");
    std::vector<unsigned long> ids;
    for (const Json &control : panel["controls"]) ids.push_back(control["id"]);
    EXPECT_EQ(ids, (std::vector<unsigned long>{kPreview, kCenterX, 0x8002, kZoom, kOpenShelf, 0x8007}));
    EXPECT_EQ(panel["controls"][0]["width"], 64);
    EXPECT_EQ(panel["controls"][3], Json::parse(R"({"id": 32771, "label": "Zoom", "type": "float-env",
                                                    "value": 15.0, "min": 1, "max": 65536, "step": 5})"));
    // The page knows the kinds of control only by these names.
    EXPECT_EQ(panel["controlTypes"],
              Json::parse(R"({"preview": "dThumbnail", "value": "float-env", "button": "vButton"})"));
}

TEST_F(Session, AnEditOutsideTheGuideIsKeptRedrawnAndSaved) {
    const Raster before = session_.drawView().raster;
    EXPECT_FALSE(session_.unsaved());
    EXPECT_TRUE(redraws(session_.setValue(kZoom, 100000.0)));
    EXPECT_TRUE(session_.unsaved());
    EXPECT_EQ(valueOf(kZoom), 100000.0);
    EXPECT_NE(session_.drawView().raster.rgb, before.rgb);
    EXPECT_EQ(session_.save(), saved_);
    EXPECT_FALSE(session_.unsaved());
    EXPECT_EQ(readSceneFile(saved_).filters.at(0).state->at(2)["value"], 100000.0);
}

TEST_F(Session, RequestsForWhatThePanelLacksAreRefusedWithoutAModuleCallAndGesturesUpToTheirBoundsTaken) {
    EXPECT_THROW(session_.setValue(kPreview, 1.0), BadRequest);
    EXPECT_THROW(session_.setValue(0x9999, 1.0), BadRequest);
    EXPECT_THROW(session_.setValue(kZoom, std::nan("")), BadRequest);
    EXPECT_THROW(session_.pressButton(kCenterX), BadRequest);
    EXPECT_THROW(session_.previewGesture(64, 0, {64, 0, 64, 0}), BadRequest);
    constexpr int kFar = 64 * (kGestureReach + 1), kLeast = std::numeric_limits<int>::min();
    EXPECT_THROW(session_.previewGesture(0, 0, {0, 0, kFar, 47}), BadRequest);
    EXPECT_THROW(session_.previewGesture(0, 0, {kLeast, 0, std::numeric_limits<int>::max(), 47}), BadRequest);
    EXPECT_EQ(valueOf(kZoom), 15.0);
    EXPECT_EQ(valueOf(kCenterX), -0.222);
    constexpr int kLeft = -kGestureReach * 64, kTop = -kGestureReach * 48;
    EXPECT_NO_THROW(session_.previewGesture(0, 0, {0, 0, 0, 0}));
    EXPECT_NO_THROW(session_.previewGesture(63, 47, {63, 47, 63, 47}));
    EXPECT_NO_THROW(session_.previewGesture(0, 0, {kLeft, kTop, kFar - 1, 48 * (kGestureReach + 1) - 1}));
}

TEST_F(Session, EditsThatWouldLeaveAnUnloadableSceneAreRefusedAndChangeNothing) {
    const auto reason = [](const auto &edit) {
        try {
            edit();
        } catch (const BadRequest &e) {
            return std::string(e.what());
        }
        return std::string("accepted");
    };
    HostedFilter &filter = scene_.filter(0);
    const std::vector<Json> keyed = keyZoom(15);
    const std::string zoomZero = reason([&] { session_.setValue(kZoom, 0.0); });
    EXPECT_NE(zoomZero.find("exponential curve"), std::string::npos) << zoomZero;
    EXPECT_EQ(filter.save(), keyed);

    // At zoom 0 the preview's steps are infinite, and so is a clicked centre.
    filter.load(viewBlocks(-0.222, 0.8, 0.0));
    session_.drawView();
    const std::vector<Json> flat = filter.save();
    const std::string click = reason([&] { session_.previewGesture(10, 10, {10, 10, 10, 10}); });
    EXPECT_NE(click.find("must be a finite number"), std::string::npos) << click;
    EXPECT_EQ(filter.save(), flat);
    EXPECT_EQ(filter.describe(), "Vorlux  (-0.222, 0.8)  0") << "the module's own view is put back too";
    session_.save();
    EXPECT_EQ(readSceneFile(saved_).filters.at(0).state, flat);
}

TEST_F(Session, AGestureOnAViewThatHasMovedOnIsRefusedAndNotApplied) {
    const unsigned long shown = session_.drawView().view;
    const Json answer = session_.previewGesture(40, 24, {40, 24, 40, 24}, shown);
    EXPECT_GT(answer.at("view").get<unsigned long>(), shown);
    const Json centre = valueOf(kCenterX);
    EXPECT_THROW(session_.previewGesture(40, 24, {40, 24, 40, 24}, shown), StaleView);
    EXPECT_EQ(valueOf(kCenterX), centre);
    EXPECT_EQ(session_.describe()["view"], answer["view"]);
}

// Gestures, typed values and applied presets all move the history on; each
// step puts every value back at once, as one change of the view.
TEST_F(Session, HistoryStepsBackForwardAndToTheOpenedValuesAsOneChangeEach) {
    const auto values = [&] { return std::vector<Json>{valueOf(kCenterX), valueOf(kCenterY), valueOf(kZoom)}; };
    const auto step = [&](PanelSession::HistoryStep to) {
        const unsigned long before = session_.describe()["view"];
        const Json answer = session_.goInHistory(to);
        EXPECT_EQ(answer["view"], before + (redraws(answer) ? 1 : 0));
        return redraws(answer);
    };
    using enum PanelSession::HistoryStep;
    const std::vector<Json> opened = values();
    EXPECT_FALSE(step(back));
    session_.previewGesture(16, 16, {16, 16, 47, 31});
    const std::vector<Json> boxed = values();
    session_.setValue(kZoom, 40.0);
    session_.setValue(kZoom, 40.0);  // the same values are no new step
    EXPECT_TRUE(step(back));
    EXPECT_EQ(values(), boxed);
    EXPECT_TRUE(step(back));
    EXPECT_EQ(values(), opened);
    EXPECT_FALSE(step(back));
    EXPECT_EQ(session_.describe()["history"], Json::parse(R"({"back": false, "forward": true, "reset": false})"));
    EXPECT_TRUE(step(forward));
    EXPECT_EQ(values(), boxed);
    // A new change drops the steps ahead.
    session_.setValue(kCenterX, 0.25);
    EXPECT_FALSE(step(forward));
    EXPECT_TRUE(step(back));
    EXPECT_EQ(values(), boxed);
    EXPECT_TRUE(step(forward));
    EXPECT_TRUE(step(reset));
    EXPECT_EQ(values(), opened);
    EXPECT_TRUE(step(back));
    EXPECT_EQ(valueOf(kCenterX), 0.25);
    EXPECT_TRUE(session_.unsaved());
}

TEST_F(Session, AHistoryStepTheParametersCannotTakeChangesNothing) {
    session_.setValue(kCenterX, 0.5);
    session_.setValue(kZoom, 0.0);
    // Keys changed outside the history: zoom 0 no longer fits the curve,
    // and is put back only after Center X.
    const std::vector<Json> keyed = keyZoom(20);
    HostedFilter &filter = scene_.filter(0);
    const Json view = session_.describe()["view"];
    EXPECT_THROW(session_.goInHistory(PanelSession::HistoryStep::back), BadRequest);
    EXPECT_EQ(filter.save(), keyed);
    EXPECT_EQ(session_.describe()["view"], view);
    EXPECT_EQ(session_.describe()["history"]["back"], true);
}

TEST(ViewHistory, KeepsTheLatestStepsAndPutsNothingBackWhenRestoringFails) {
    ViewHistory history({0}, 3);
    std::vector<double> restored;
    const auto restore = [&](const ViewHistory::Values &values) { restored.push_back(values.at(0)); };
    for (double value : {1, 2, 3}) history.record({value});
    EXPECT_TRUE(history.back({3}, restore));
    EXPECT_TRUE(history.back({2}, restore));
    EXPECT_FALSE(history.back({1}, restore)) << "the oldest step, 0, was dropped";
    EXPECT_EQ(restored, (std::vector<double>{2, 1}));
    const auto refuse = [](const ViewHistory::Values &) { throw BadRequest("refused"); };
    EXPECT_THROW(history.forward({1}, refuse), BadRequest);
    EXPECT_TRUE(history.forward({1}, restore));
    // A view the history has not seen (a button or the animation changed
    // it) is one step back from the reset.
    EXPECT_TRUE(history.reset({5}, restore));
    EXPECT_EQ(restored.back(), 0);
    EXPECT_FALSE(history.reset({0}, restore));
    EXPECT_TRUE(history.back({0}, restore));
    EXPECT_EQ(restored.back(), 5);
}

// A box larger than the preview zooms out around its centre.
TEST_F(Session, ABoxZoomsInOrOutAndAButtonWithoutAShelfChangesNothing) {
    EXPECT_TRUE(redraws(session_.previewGesture(32, 24, {-32, -24, 95, 71})));
    EXPECT_DOUBLE_EQ(valueOf(kZoom).get<double>(), 15.0 / 2);
    EXPECT_EQ(valueOf(kCenterX), -0.222);
    EXPECT_EQ(valueOf(kCenterY), 0.8);
    EXPECT_TRUE(redraws(session_.previewGesture(16, 16, {16, 16, 47, 31})));
    EXPECT_DOUBLE_EQ(valueOf(kZoom).get<double>(), 15.0 / 2 * 2);
    EXPECT_FALSE(redraws(session_.pressButton(kOpenShelf)));
    ShelfSession shelf(session_);
    EXPECT_FALSE(shelf.describe()["available"].get<bool>());
    EXPECT_THROW(shelf.close(), BadRequest);
}

// A panel served on a free port until the end of the test.
struct ServedPanel {
    explicit ServedPanel(std::filesystem::path saveTo) : session(scene, std::move(saveTo), Size{320, 240}), server(session) {
        page.set_default_headers({{"Origin", "http://127.0.0.1:" + std::to_string(port)}});
        page.set_read_timeout(10, 0);
    }
    ~ServedPanel() { stop(); }
    void stop() {
        if (!serving.joinable()) return;
        server.stop();
        serving.join();
    }
    // Under the lock the server's workers call the module with: that an answer
    // came means the request is done, but it comes through a socket, an order
    // the thread checker cannot see.
    std::string view() {
        std::lock_guard lock(session.moduleCalls());
        return scene.filter(0).describe();
    }

    HostWithShelf host{freshShelf()};
    LoadedScene scene{host, oneVorluxFilter(), {}};
    PanelSession session;
    PanelServer server;
    int port = server.bind(0);
    std::thread serving{[this] { server.run(); }};
    // A client as the page is one: from the panel's own origin.
    httplib::Client page{"127.0.0.1", port};
};

int statusOf(const httplib::Result &result) { return result ? result->status : -1; }
std::string bodyOf(const httplib::Result &result) { return result ? result->body : "(no answer)"; }

// A socket of our own that has sent `request`, for requests no HTTP client
// library would send; a read from it waits at most 10 s. -1 if it cannot connect.
// The sending side stays open: the server takes a half-closed connection for a gone client.
int sentTo(int port, const std::string &request) {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    const sockaddr_in address{
        .sin_family = AF_INET, .sin_port = htons(port), .sin_addr = {htonl(INADDR_LOOPBACK)}, .sin_zero = {}};
    const timeval limit{.tv_sec = 10, .tv_usec = 0};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    if (connect(fd, reinterpret_cast<const sockaddr *>(&address), sizeof address) != 0) {
        close(fd);
        return -1;
    }
    send(fd, request.data(), request.size(), MSG_NOSIGNAL);
    return fd;
}

// The answer's status line ("" if none came within 10 s).
std::string statusLineOf(int port, const std::string &request) {
    const int fd = sentTo(port, request);
    std::string answer(4096, '\0');
    const ssize_t got = recv(fd, answer.data(), answer.size(), MSG_WAITALL);
    close(fd);
    answer.resize(std::max<ssize_t>(got, 0));
    return answer.substr(0, answer.find("\r\n"));
}

const std::filesystem::path kUnsaved = std::filesystem::temp_directory_path() / "vorlux-web-unused.json";

TEST(PanelServer, OversizedAndMalformedRequestsLeaveTheInstanceAlone) {
    ServedPanel panel(kUnsaved);
    const auto status = [&](const std::string &path, const std::string &body) {
        return statusOf(panel.page.Post(path, body, "application/json"));
    };
    EXPECT_EQ(status("/api/value", std::string(kMaxRequestBody + 1, ' ')), 413);
    EXPECT_EQ(status("/api/value", "{\"id\": 32769, \"value\": "), 400);
    EXPECT_EQ(status("/api/value", R"({"id": 32769, "value": "far"})"), 400);
    EXPECT_EQ(status("/api/value", R"({"id": -1, "value": 2})"), 400);
    EXPECT_EQ(status("/api/zoom", R"({"x": 1e12, "y": 0, "x0": 0, "y0": 0, "x1": 0, "y1": 0})"), 400);
    EXPECT_EQ(status("/api/zoom", R"({"x": 5000, "y": 5, "x0": 5000, "y0": 5, "x1": 5000, "y1": 5})"), 400);
    EXPECT_EQ(status("/api/zoom", R"({"x": 5, "y": 5, "x0": -2147483648, "y0": 5, "x1": 2147483647, "y1": 5})"), 400);
    EXPECT_EQ(status("/api/zoom", R"({"x": 5.5, "y": 5, "x0": 5, "y0": 5, "x1": 5, "y1": 5})"), 400);
    EXPECT_EQ(status("/api/zoom", R"({"x": 4294967301, "y": 5, "x0": 5, "y0": 5, "x1": 5, "y1": 5})"), 400);
    EXPECT_EQ(status("/api/history", R"({"step": "sideways"})"), 400);
    EXPECT_EQ(status("/api/history", R"({"step": 3})"), 400);
    EXPECT_EQ(status("/api/zoom", R"({"x": 5, "y": 5, "x0": 5, "y0": 5, "x1": 5, "y1": 5, "view": 99999})"), 409);
    // The page shows the reason it was given.
    EXPECT_EQ(bodyOf(panel.page.Post("/api/value", R"({"id": 32769})", "application/json")),
              R"({"error":"the request needs a number 'value'"})");
    // The scene's frames are 0 to 119, at most 1280 by 720.
    const auto frame = [&](const std::string &query) { return statusOf(panel.page.Get("/api/animation/frame?" + query)); };
    EXPECT_EQ(frame("frame=0&side=8&view=99999"), 409);
    for (const char *query : {"frame=0&side=8px&view=1", "frame=99999999999&side=8&view=1", "frame=-1&side=8&view=1",
                              "frame=120&side=8&view=1", "frame=0&side=0&view=1", "frame=0&side=2049&view=1",
                              "side=8&view=1"}) {
        EXPECT_EQ(frame(query), 400) << query;
    }
    EXPECT_EQ(frame("frame=119&side=8&view=1"), 200);
    EXPECT_EQ(frame("frame=0&side=2048&view=1"), 200);
    // Values nested deeper than any request needs are refused before they are built.
    const std::string deep = R"({"id": 32769, "value": )" + std::string(20000, '[') + std::string(20000, ']') + "}";
    const httplib::Result nested = panel.page.Post("/api/value", deep, "application/json");
    EXPECT_EQ(statusOf(nested), 400);
    EXPECT_NE(bodyOf(nested).find("nest deeper than 64 levels"), std::string::npos) << bodyOf(nested);

    // A chunked body declares no length to hold it to. The refusal may come
    // as a closed connection before the body is sent whole.
    const auto chunked = [&](const std::string &body) {
        const auto inPieces = [&](size_t offset, httplib::DataSink &sink) {
            sink.write(body.data() + offset, std::min<size_t>(body.size() - offset, 1 << 16));
            if (offset + (1 << 16) >= body.size()) sink.done();
            return true;
        };
        return statusOf(panel.page.Post("/api/value", inPieces, "application/json"));
    };
    EXPECT_NE(chunked(R"({"id": 32769, "value": 2})"), 200);
    EXPECT_NE(chunked(R"({"id": 32769, "value": 2)" + std::string(5 << 20, ' ') + "}"), 200);
    // Nor does a body sent until the connection closes.
    const std::string own = "127.0.0.1:" + std::to_string(panel.port);
    EXPECT_EQ(statusLineOf(panel.port, "POST /api/value HTTP/1.1\r\nHost: " + own + "\r\nOrigin: http://" + own +
                                           "\r\nContent-Type: application/json\r\nConnection: close\r\n\r\n"
                                           R"({"id": 32769, "value": 2})"),
              "HTTP/1.1 411 Length Required");
    // A compressed body is as long as it unpacks to.
    panel.page.set_compress(true);
    EXPECT_EQ(status("/api/value", R"({"id": 32769, "value": 3})"), 415);
    EXPECT_EQ(panel.view(), "Vorlux  (-0.222, 0.8)  15");
}

TEST(PanelServer, AScenePathThatIsNotUtf8IsShownWithReplacements) {
    const std::filesystem::path saved = std::filesystem::path(::testing::TempDir()) / "caf\xE9-scene.json";
    std::filesystem::remove(saved);
    ServedPanel panel(saved);
    const httplib::Result described = panel.page.Get("/api/panel");
    ASSERT_EQ(statusOf(described), 200);
    EXPECT_EQ(Json::parse(described->body)["scene"], saved.parent_path().string() + "/caf\uFFFD-scene.json");
    EXPECT_EQ(statusOf(panel.page.Post("/api/save", "{}", "application/json")), 200);
    EXPECT_TRUE(std::filesystem::exists(saved));
}

// The page is kept from other sites' frames and scripts, and nothing it
// draws from is kept in a cache.
TEST(PanelServer, AnswersCarryTheirTypeAndHeaders) {
    ServedPanel panel(kUnsaved);
    const std::vector<std::pair<std::string, httplib::Headers>> expected = {
        {"/", {{"Content-Security-Policy", "default-src 'self'; img-src 'self' data: blob:; frame-ancestors 'none'"},
               {"Content-Type", "text/html; charset=utf-8"}}},
        {"/panel.js", {{"Content-Type", "text/javascript; charset=utf-8"}}},
        {"/api/panel", {{"Content-Type", "application/json"}}},
        {"/api/preview",
         {{"Cache-Control", "no-store"}, {"X-Preview-Width", "320"}, {"X-Preview-Height", "240"}, {"X-View-Version", "1"}}},
        {"/api/animation/frame?frame=0&side=8&view=1",
         {{"Cache-Control", "no-store"}, {"X-View-Version", "1"}, {"Content-Type", "image/png"}}},
    };
    for (const auto &[path, headers] : expected) {
        const httplib::Result answer = panel.page.Get(path);
        ASSERT_EQ(statusOf(answer), 200) << path;
        for (const auto &[name, value] : headers) EXPECT_EQ(answer->get_header_value(name), value) << path << " " << name;
    }
    EXPECT_EQ(panel.page.Get("/api/preview")->body.size(), 320u * 240 * 3);
    EXPECT_EQ(Json::parse(panel.page.Get("/api/animation")->body)["strip"],
              Json::parse(R"({"frames": [0, 17, 34, 51, 68, 85, 102, 119], "width": 256, "height": 144})"));
}

// Clients that send a header line now and then, which a worker waits for:
// more of them than the server library's own pool of workers takes.
TEST(PanelServer, SlowClientsNeitherStallOthersNorKeepItFromStopping) {
    ServedPanel panel(kUnsaved);
    constexpr int kSlowClients = 48, kRounds = 60;
    std::vector<int> sockets;
    for (int i = 0; i < kSlowClients; ++i) sockets.push_back(sentTo(panel.port, "GET /api/panel HTTP/1.1\r\n"));
    ASSERT_EQ(std::ranges::count(sockets, -1), 0) << "a slow client could not connect";
    constexpr std::string_view kHeaderLine = "X-Slow: 1\r\n";
    std::atomic<int> rounds{0};
    std::thread trickling([&] {
        for (; rounds < kRounds; ++rounds) {
            std::this_thread::sleep_for(std::chrono::milliseconds(250));
            int open = 0;
            for (int fd : sockets) open += send(fd, kHeaderLine.data(), kHeaderLine.size(), MSG_NOSIGNAL) > 0;
            if (open == 0) return;
        }
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    EXPECT_EQ(statusOf(panel.page.Get("/api/panel")), 200);
    panel.stop();
    EXPECT_LT(rounds.load(), kRounds) << "stopping waited for the slow clients";
    trickling.join();
    for (int fd : sockets) close(fd);
}

// A signal may stop the panel before its server has begun to listen; the
// stop must hold. The bound is no speed limit: a kept stop returns at once.
TEST(PanelServer, AStopBeforeItRunsIsKept) {
    Host host;
    LoadedScene scene{host, oneVorluxFilter(), {}};
    PanelSession session(scene, kUnsaved, Size{64, 48});
    PanelServer server(session);
    server.bind(0);
    server.stop();
    auto running = std::async(std::launch::async, [&server] { server.run(); });
    const bool stopped = running.wait_for(std::chrono::seconds(30)) == std::future_status::ready;
    if (!stopped) server.stop();  // now that it listens, so that the test ends
    EXPECT_TRUE(stopped) << "the server forgot a stop that came before run()";
}

// Other pages learn of a change only through the event stream: every request
// that changes the view or the shelf must be announced, the save and the
// page's focus need not be.
TEST(PanelServer, EveryChangeIsAnnouncedToTheOpenPages) {
    ServedPanel panel(kUnsaved);
    const std::vector<std::pair<std::string, std::string>> changes = {
        {"/api/value", R"({"id": 32771, "value": 2})"},
        {"/api/zoom", R"({"x": 5, "y": 5, "x0": 5, "y0": 5, "x1": 5, "y1": 5})"},
        {"/api/button", R"({"id": 32775})"},
        {"/api/shelf/rename", R"({"id": 1, "name": "Seahorse"})"},
        {"/api/shelf/apply", R"({"id": 1})"},
        {"/api/history", R"({"step": "back"})"},
        {"/api/animation/block", R"({"id": 32771, "value": 4})"},
        {"/api/shelf/delete", R"({"id": 1})"},
        {"/api/shelf/close", "{}"},
    };
    // The page's focus selects its instance on the shelf.
    const auto selected = [&] {
        std::lock_guard lock(panel.session.moduleCalls());
        const Shelf &shelf = *panel.host.shelf();
        return shelf.selected() && shelf.selected() == shelf.clientOf(panel.session.panel().instance());
    };
    EXPECT_FALSE(selected());
    ASSERT_EQ(statusOf(panel.page.Post("/api/select", "{}", "application/json")), 200);
    EXPECT_TRUE(selected());
    std::set<std::string> announced = {"/api/save", "/api/select"};
    // The change counts the page's event stream announces, in the order they come.
    const int events =
        sentTo(panel.port, "GET /api/events HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(panel.port) + "\r\n\r\n");
    std::string received;
    // The stream's heartbeats come as often as a read times out, so the wait has a deadline of its own.
    const auto nextCount = [&]() -> long {  // -1 when none comes within ten seconds
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        size_t start, end;
        while ((start = received.find("data: ")) == std::string::npos ||
               (end = received.find("\n\n", start)) == std::string::npos) {
            char buffer[4096];
            const ssize_t got = recv(events, buffer, sizeof buffer, 0);
            if (got <= 0 || std::chrono::steady_clock::now() > deadline) return -1;
            received.append(buffer, got);
        }
        const long count = Json::parse(received.substr(start + 6, end - start - 6)).at("change");
        received.erase(0, end + 2);
        return count;
    };
    long seen = nextCount();
    for (const auto &[path, body] : changes) {
        ASSERT_EQ(statusOf(panel.page.Post(path, body, "application/json")), 200) << path;
        const long count = nextCount();
        ASSERT_GT(count, seen) << path << " was not announced";
        seen = count;
        announced.insert(path);
    }
    for (const PanelServer::Route &route : panel.server.routes()) {
        EXPECT_TRUE(route.method != "POST" || announced.contains(route.path)) << route.path << " is not tried";
    }
    close(events);
}

// A page of another site may send requests to the panel's port from the
// user's browser; no route may act on them. A POST is taken only as JSON from
// the page itself.
TEST(PanelServer, EveryRouteRefusesForeignHostsAndTakesPostsOnlyAsJsonFromThePageItself) {
    const std::filesystem::path saveTo = std::filesystem::path(::testing::TempDir()) / "vorlux-web-guard.json";
    std::filesystem::remove(saveTo);
    ServedPanel panel(saveTo);
    httplib::Client client("127.0.0.1", panel.port);
    const std::string own = "127.0.0.1:" + std::to_string(panel.port), origin = "http://" + own;
    const auto status = [&](const PanelServer::Route &route, const httplib::Headers &headers) {
        if (route.method == "GET") return statusOf(client.Get(route.path, headers));
        return statusOf(client.Post(route.path, headers, R"({"id": 32771, "value": 2})", "application/json"));
    };
    const auto save = [&](const httplib::Headers &headers, const char *type) {
        return statusOf(client.Post("/api/save", headers, "{}", type));
    };
    const std::vector<PanelServer::Route> &routes = panel.server.routes();
    ASSERT_GE(routes.size(), 10u);
    for (const PanelServer::Route &route : routes) {
        const std::string name = route.method + " " + route.path;
        EXPECT_EQ(status(route, {{"Host", "evil.example:" + std::to_string(panel.port)}}), 403) << name;
        EXPECT_EQ(status(route, {{"Host", "localhost:" + std::to_string(panel.port + 1)}}), 403) << name;
        if (route.method == "POST") {
            EXPECT_EQ(status(route, {{"Host", own}, {"Origin", "http://evil.example"}}), 403) << name;
        }
    }
    EXPECT_EQ(bodyOf(client.Get("/api/panel", {{"Host", "evil.example:" + std::to_string(panel.port)}})),
              R"({"error":"unknown host name"})");
    EXPECT_EQ(bodyOf(client.Post("/api/save", {{"Origin", "http://evil.example"}}, "{}", "application/json")),
              R"({"error":"cross-site request refused"})");
    EXPECT_EQ(save({}, "text/plain"), 403);
    EXPECT_EQ(save({{"Origin", ""}}, "application/json"), 403);
    EXPECT_EQ(save({{"Sec-Fetch-Site", "cross-site"}}, "application/json"), 403);
    EXPECT_EQ(save({{"Origin", origin}}, "text/plain"), 415);
    EXPECT_EQ(save({{"Origin", origin}}, "application/x-www-form-urlencoded"), 415);
    EXPECT_EQ(panel.view(), "Vorlux  (-0.222, 0.8)  15");
    EXPECT_FALSE(std::filesystem::exists(saveTo));
    EXPECT_EQ(save({{"Sec-Fetch-Site", "same-origin"}}, "application/json"), 200);
    EXPECT_EQ(save({{"Origin", origin}}, "Application/JSON; charset=utf-8"), 200);
    EXPECT_TRUE(std::filesystem::exists(saveTo));
    // A HEAD, which carries no body, needs no Origin.
    EXPECT_EQ(statusOf(client.Head("/", {{"Host", own}})), 200);
    // The same requests from the page itself pass the guard.
    for (const PanelServer::Route &route : routes) {
        EXPECT_NE(status(route, {{"Host", own}, {"Origin", origin}}), 403) << route.path;
    }
    EXPECT_EQ(panel.view(), "Vorlux  (-0.222, 0.8)  2");
    // A save that fails is the server's failure, and says why.
    std::filesystem::remove(saveTo);
    std::filesystem::create_directory(saveTo);
    const httplib::Result failed = client.Post("/api/save", {{"Origin", origin}}, "{}", "application/json");
    ASSERT_TRUE(failed);
    EXPECT_EQ(failed->status, 500);
    EXPECT_NE(Json::parse(failed->body).at("error").get<std::string>().find("cannot write"), std::string::npos) << failed->body;
    std::filesystem::remove(saveTo);
}

}  // namespace
