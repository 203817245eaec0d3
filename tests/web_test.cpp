// The panel's web side: which requests the server answers, and the session
// that turns the page's requests into calls on the module's panel.
#include <gtest/gtest.h>

#include <httplib.h>

#include <cstdlib>
#include <filesystem>
#include <thread>

#include "qzhost/services/host.h"
#include "qzhost/web/panel_server.h"
#include "qzhost/web/panel_session.h"
#include "qzhost/web/request_guard.h"
#include "qzhost/web/shelf_session.h"
#include "tests/session_helpers.h"

using namespace qzhost;

namespace {

constexpr unsigned long kCenterX = 0x8001, kZoom = 0x8003, kPreview = 0x8004, kOpenShelf = 0x8006;

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
}

TEST(Sizes, PreviewSidesFromOneTo1024) {
    EXPECT_EQ(parsePreviewSize("1024x1").width, 1024);
    EXPECT_EQ(parsePreviewSize("3X7").height, 7);
    for (const char *bad : {"", "320", "320x", "0x10", "10x-1", "1025x10", "10x1025", "10x10x", "axb", "10 x 10",
                            "99999999999x1"}) {
        EXPECT_THROW(parsePreviewSize(bad), HostError) << bad;
    }
}

class Session : public ::testing::Test {
protected:
    Json valueOf(unsigned long id) { return describedValue(session_, id); }

    Host host_;
    LoadedScene scene_{host_, oneVorluxFilter(), {}};
    std::filesystem::path saved_ = std::filesystem::path(::testing::TempDir()) / "session-scene.json";
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
}

TEST_F(Session, AnEditOutsideTheGuideIsKeptRedrawnAndSaved) {
    const Raster before = session_.drawPreview();
    EXPECT_FALSE(session_.unsaved());
    EXPECT_TRUE(redraws(session_.setValue(kZoom, 100000.0)));
    EXPECT_TRUE(session_.unsaved());
    EXPECT_EQ(valueOf(kZoom), 100000.0);
    EXPECT_NE(session_.drawPreview().rgb, before.rgb);
    EXPECT_EQ(session_.save(), saved_);
    EXPECT_FALSE(session_.unsaved());
    EXPECT_EQ(readSceneFile(saved_).filters.at(0).state->at(2)["value"], 100000.0);
}

TEST_F(Session, RequestsForWhatThePanelLacksAreRefusedWithoutAModuleCall) {
    EXPECT_THROW(session_.setValue(kPreview, 1.0), BadRequest);
    EXPECT_THROW(session_.setValue(0x9999, 1.0), BadRequest);
    EXPECT_THROW(session_.setValue(kZoom, std::nan("")), BadRequest);
    EXPECT_THROW(session_.pressButton(kCenterX), BadRequest);
    EXPECT_THROW(session_.previewGesture(64, 0, {64, 0, 64, 0}), BadRequest);
    EXPECT_THROW(session_.previewGesture(0, 0, {0, 0, 10, 48}), BadRequest);
    EXPECT_EQ(valueOf(kZoom), 15.0);
    EXPECT_EQ(valueOf(kCenterX), -0.222);
}

TEST_F(Session, ABoxZoomsInAndAButtonWithoutAShelfChangesNothing) {
    EXPECT_TRUE(redraws(session_.previewGesture(16, 16, {16, 16, 47, 31})));
    EXPECT_DOUBLE_EQ(valueOf(kZoom).get<double>(), 15.0 * 2);
    EXPECT_FALSE(redraws(session_.pressButton(kOpenShelf)));
    ShelfSession shelf(session_);
    EXPECT_FALSE(shelf.describe()["available"].get<bool>());
    EXPECT_THROW(shelf.close(), BadRequest);
}

}  // namespace

TEST(PanelServer, OversizedAndMalformedRequestsLeaveTheInstanceAlone) {
    Host host;
    SceneDocument document;
    FilterEntry filter;
    filter.module = VORLUX_MODULE_FILE;
    document.filters.push_back(filter);
    LoadedScene scene(host, document, "");
    PanelSession session(scene, std::filesystem::temp_directory_path() / "vorlux-web-unused.json", Size{320, 240});
    PanelServer server(session);
    const int port = server.bind(0);
    std::thread serving([&] { server.run(); });

    httplib::Client client("127.0.0.1", port);
    const auto status = [&](const std::string &path, const std::string &body) {
        const httplib::Result result = client.Post(path, body, "application/json");
        return result ? result->status : -1;
    };
    EXPECT_EQ(status("/api/value", std::string(kMaxRequestBody + 1, ' ')), 413);
    EXPECT_EQ(status("/api/value", "{\"id\": 32769, \"value\": "), 400);
    EXPECT_EQ(status("/api/value", R"({"id": 32769, "value": "far"})"), 400);
    EXPECT_EQ(status("/api/value", R"({"id": -1, "value": 2})"), 400);
    EXPECT_EQ(status("/api/zoom", R"({"x": 1e12, "y": 0, "x0": 0, "y0": 0, "x1": 0, "y1": 0})"), 400);
    EXPECT_EQ(status("/api/zoom", R"({"x": 5000, "y": 5, "x0": 5000, "y0": 5, "x1": 5000, "y1": 5})"), 400);
    server.stop();
    serving.join();
    EXPECT_EQ(scene.filter(0).describe(), "Vorlux  (-0.222, 0.8)  15");
}

// A page of another site may send requests to the panel's port from the
// user's browser; no route may act on them.
TEST(PanelServer, EveryRouteRefusesForeignHostsAndPostsFromOtherSites) {
    Host host;
    LoadedScene scene(host, oneVorluxFilter(), "");
    const std::filesystem::path saveTo = std::filesystem::path(::testing::TempDir()) / "vorlux-web-guard.json";
    std::filesystem::remove(saveTo);
    PanelSession session(scene, saveTo, Size{64, 48});
    PanelServer server(session);
    const int port = server.bind(0);
    std::thread serving([&] { server.run(); });

    httplib::Client client("127.0.0.1", port);
    const std::string own = "127.0.0.1:" + std::to_string(port);
    const auto status = [&](const PanelServer::Route &route, const httplib::Headers &headers) {
        const httplib::Result result = route.method == "GET"
                                           ? client.Get(route.path, headers)
                                           : client.Post(route.path, headers, R"({"id": 32771, "value": 2})",
                                                         "application/json");
        return result ? result->status : -1;
    };
    ASSERT_GE(server.routes().size(), 10u);
    for (const PanelServer::Route &route : server.routes()) {
        const std::string name = route.method + " " + route.path;
        EXPECT_EQ(status(route, {{"Host", "evil.example:" + std::to_string(port)}}), 403) << name;
        EXPECT_EQ(status(route, {{"Host", "localhost:" + std::to_string(port + 1)}}), 403) << name;
        if (route.method == "POST") {
            EXPECT_EQ(status(route, {{"Host", own}, {"Origin", "http://evil.example"}}), 403) << name;
        }
    }
    EXPECT_EQ(scene.filter(0).describe(), "Vorlux  (-0.222, 0.8)  15");
    EXPECT_FALSE(std::filesystem::exists(saveTo));
    // The same requests from the page itself pass the guard.
    for (const PanelServer::Route &route : server.routes()) {
        EXPECT_NE(status(route, {{"Host", own}, {"Origin", "http://" + own}}), 403) << route.path;
    }
    EXPECT_EQ(scene.filter(0).describe(), "Vorlux  (-0.222, 0.8)  2");
    server.stop();
    serving.join();
}
