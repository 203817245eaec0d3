// One instance under load: 200 frames rendered while a client drives 1,000
// panel edits and preview gestures through the web API. No request may fail,
// and memory must stay flat once both have warmed up.
#include <gtest/gtest.h>

#include <httplib.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <thread>

#include "qzhost/render/progress.h"
#include "qzhost/render/render_job.h"
#include "qzhost/scene/default_scene.h"
#include "qzhost/services/host.h"
#include "qzhost/web/panel_server.h"

using namespace qzhost;

namespace {

long residentBytes() {
    std::ifstream statm("/proc/self/statm");
    long size = 0, resident = 0;
    statm >> size >> resident;
    return resident * sysconf(_SC_PAGESIZE);
}

std::string gestureBody(int i) {
    const int x = 10 + i % 60, y = 8 + i % 40;
    const bool box = i % 3 == 0;
    return Json{{"x", x}, {"y", y}, {"x0", x}, {"y0", y}, {"x1", box ? x + 8 : x}, {"y1", box ? y + 6 : y}}.dump();
}

}  // namespace

TEST(Soak, RenderAndPanelTrafficOnOneInstance) {
    const auto folder = std::filesystem::temp_directory_path() / "vorlux-soak";
    std::filesystem::remove_all(folder);
    std::filesystem::create_directories(folder);
    Host host;
    LoadedScene scene(host, defaultScene(VORLUX_MODULE_FILE), "");
    PanelSession session(scene, folder / "scene.json", Size{80, 60});
    PanelServer server(session);
    const int port = server.bind(0);
    std::thread serving([&] { server.run(); });

    const RenderRequest request{.frames = {96, 54, 1.0, 24.0, 0, 199}, .threads = 2, .folder = folder};
    std::atomic<bool> stop{false};
    RenderProgress progress;
    const auto silent = makeProgressDisplay(ProgressStyle::Quiet);
    std::thread rendering([&] { runRender(scene, request, stop, *silent, progress); });

    httplib::Client client("127.0.0.1", port);
    client.set_default_headers({{"Origin", "http://127.0.0.1:" + std::to_string(port)}});
    int failures = 0;
    [[maybe_unused]] long warmedUp = 0;  // read only where memory can be measured
    for (int i = 0; i < 1000; ++i) {
        httplib::Result result =
            i % 2 ? client.Post("/api/zoom", gestureBody(i), "application/json")
                  : client.Post("/api/value", Json{{"id", 0x8001 + i % 3}, {"value", i % 3 == 2 ? 15.0 + i : -0.2}}.dump(),
                                "application/json");
        if (!result || result->status != 200) ++failures;
        if (i % 10 == 0 && !client.Get("/api/preview")) ++failures;
        if (i == 200) warmedUp = residentBytes();
    }
    rendering.join();
    server.stop();
    serving.join();
    EXPECT_EQ(failures, 0);
    EXPECT_EQ(progress.done, 200);
#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
    EXPECT_LT(residentBytes() - warmedUp, 8L * 1024 * 1024) << "memory grew under load";
#endif
}
