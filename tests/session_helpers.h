// What the panel session tests share: a scene of one Vorlux filter, a host
// with a shelf of the test's own, another program's hold on that shelf, and
// the value a session describes for one of its controls.
#pragma once

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <filesystem>

#include "qzhost/services/host.h"
#include "qzhost/web/panel_session.h"

namespace qzhost {

inline SceneDocument oneVorluxFilter() {
    SceneDocument scene;
    scene.filters.emplace_back().module = VORLUX_MODULE_FILE;
    return scene;
}

// One database per test, since ctest runs the tests side by side.
inline std::filesystem::path freshShelf() {
    const std::string test = ::testing::UnitTest::GetInstance()->current_test_info()->name();
    const std::filesystem::path file = std::filesystem::path(::testing::TempDir()) / ("shelf-" + test + ".sqlite");
    std::filesystem::remove(file);
    return file;
}

// Another program's connection to the shelf's database, to hold it or to
// store what qzhost would not.
struct OtherProgram {
    explicit OtherProgram(const std::filesystem::path &file) { sqlite3_open(file.c_str(), &db); }
    ~OtherProgram() { sqlite3_close(db); }
    int run(const char *sql) { return sqlite3_exec(db, sql, nullptr, nullptr, nullptr); }
    sqlite3 *db = nullptr;
};

// The shelf opens before any panel does, so that the module subscribes.
struct HostWithShelf : Host {
    explicit HostWithShelf(const std::filesystem::path &file) { openShelf(file); }
};

// Null when the panel has no such control or it holds no value.
inline Json describedValue(PanelSession &session, unsigned long id) {
    const Json panel = session.describe();
    for (const Json &control : panel["controls"]) {
        if (control["id"] == id) return control.value("value", Json());
    }
    return nullptr;
}

}  // namespace qzhost
