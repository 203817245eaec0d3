// Presets on disk: an SQLite database, one row per preset, every write a
// transaction, so that a killed process never loses or half-writes one.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "qzhost/base/json.h"

struct sqlite3;

namespace qzhost {

struct Preset {
    int64_t id = 0;
    std::string className;
    std::string server;
    std::string name;
    std::string created;  // UTC, "2026-12-08T15:20:00Z"
    std::vector<Json> settings;  // the blocks the client's save wrote
    std::vector<unsigned char> thumbnail;  // PNG
};

class PresetStore {
public:
    // $XDG_DATA_HOME/qzhost/shelf.sqlite, or ~/.local/share/qzhost/shelf.sqlite.
    static std::filesystem::path defaultFile();

    // Opens or creates the database; throws HostError when it is damaged,
    // locked, read-only, or from a newer qzhost.
    explicit PresetStore(const std::filesystem::path &file);
    ~PresetStore();
    PresetStore(const PresetStore &) = delete;
    PresetStore &operator=(const PresetStore &) = delete;

    const std::filesystem::path &file() const { return file_; }

    // Stores a preset; an empty name becomes "Preset N" after its id. Names
    // are taken through presetName(), which throws BadRequest for a bad one.
    int64_t add(Preset preset);
    std::vector<Preset> list() const;
    std::optional<Preset> get(int64_t id) const;
    // Both return false when there is no such preset; rename takes the name
    // through presetName().
    bool rename(int64_t id, const std::string &name);
    bool remove(int64_t id);

private:
    void createOrCheckSchema();
    std::string problem(const std::string &doing) const;
    [[noreturn]] void fail(const std::string &doing) const;
    // Rolls back the open transaction, if any, and fails as fail does.
    [[noreturn]] void abandon(const std::string &doing);

    std::filesystem::path file_;
    sqlite3 *db_ = nullptr;
};

}  // namespace qzhost
