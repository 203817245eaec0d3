#include "qzhost/presets/preset_store.h"

#include <sqlite3.h>

#include <cstdlib>
#include <ctime>

#include "qzhost/base/error.h"
#include "qzhost/base/files.h"
#include "qzhost/presets/preset_name.h"

namespace qzhost {
namespace {

constexpr int kSchemaVersion = 1;
constexpr int kBusyMilliseconds = 2000;

// One prepared statement, finalised whatever happens.
class Statement {
public:
    Statement(sqlite3 *db, const char *sql) {
        if (sqlite3_prepare_v2(db, sql, -1, &statement_, nullptr) != SQLITE_OK) statement_ = nullptr;
    }
    ~Statement() { sqlite3_finalize(statement_); }
    Statement(const Statement &) = delete;
    Statement &operator=(const Statement &) = delete;

    bool ok() const { return statement_ != nullptr; }
    Statement &bind(int at, int64_t value) {
        sqlite3_bind_int64(statement_, at, value);
        return *this;
    }
    Statement &bind(int at, const std::string &text) {
        sqlite3_bind_text(statement_, at, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
        return *this;
    }
    Statement &bind(int at, const std::vector<unsigned char> &blob) {
        sqlite3_bind_blob(statement_, at, blob.data(), static_cast<int>(blob.size()), SQLITE_TRANSIENT);
        return *this;
    }
    // SQLITE_ROW, SQLITE_DONE or an error code.
    int step() { return statement_ ? sqlite3_step(statement_) : SQLITE_ERROR; }

    int64_t integer(int column) const { return sqlite3_column_int64(statement_, column); }
    std::string text(int column) const {
        const auto *text = reinterpret_cast<const char *>(sqlite3_column_text(statement_, column));
        return text ? std::string(text, sqlite3_column_bytes(statement_, column)) : std::string();
    }
    std::vector<unsigned char> blob(int column) const {
        const auto *data = static_cast<const unsigned char *>(sqlite3_column_blob(statement_, column));
        return data ? std::vector<unsigned char>(data, data + sqlite3_column_bytes(statement_, column))
                    : std::vector<unsigned char>();
    }

private:
    sqlite3_stmt *statement_ = nullptr;
};

const char *const kColumns = "id, class, server, name, created, settings, thumbnail";

// Text read back is made printable: a database written before names had a
// rule, or by another program, may hold any bytes.
Preset presetFrom(const Statement &row) {
    Preset preset{row.integer(0),           printableText(row.text(1)), printableText(row.text(2)),
                  printableText(row.text(3)), printableText(row.text(4)), {}, row.blob(6)};
    const Json settings = Json::parse(row.text(5), nullptr, false);
    if (settings.is_array()) preset.settings.assign(settings.begin(), settings.end());
    return preset;
}

std::string nowUtc() {
    const std::time_t now = std::time(nullptr);
    std::tm utc{};
    gmtime_r(&now, &utc);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &utc);
    return text;
}

}  // namespace

std::filesystem::path PresetStore::defaultFile() { return userDataFolder() / "shelf.sqlite"; }

PresetStore::PresetStore(const std::filesystem::path &file) : file_(file) {
    std::error_code ignored;
    if (file.has_parent_path()) std::filesystem::create_directories(file.parent_path(), ignored);
    if (sqlite3_open_v2(file.c_str(), &db_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr) != SQLITE_OK) {
        const std::string why = db_ ? sqlite3_errmsg(db_) : "out of memory";
        sqlite3_close(db_);
        throw HostError("shelf database '" + file.string() + "' cannot be opened: " + why);
    }
    sqlite3_busy_timeout(db_, kBusyMilliseconds);
    try {
        if (sqlite3_db_readonly(db_, "main") == 1) throw HostError("shelf database '" + file.string() + "' is read-only");
        createOrCheckSchema();
    } catch (...) {
        sqlite3_close(db_);
        throw;
    }
}

PresetStore::~PresetStore() { sqlite3_close(db_); }

std::string PresetStore::problem(const std::string &doing) const {
    const int code = sqlite3_errcode(db_);
    std::string why = sqlite3_errmsg(db_);
    if (code == SQLITE_BUSY || code == SQLITE_LOCKED) why = "it is locked by another program";
    if (code == SQLITE_READONLY) why = "it is read-only";
    return "shelf database '" + file_.string() + "': cannot " + doing + ": " + why;
}

void PresetStore::fail(const std::string &doing) const { throw HostError(problem(doing)); }

void PresetStore::abandon(const std::string &doing) {
    // The problem is taken first: the rollback sets an error of its own,
    // "no transaction is active" when the transaction never began.
    const std::string message = problem(doing);
    sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
    throw HostError(message);
}

void PresetStore::createOrCheckSchema() {
    // The first read also finds a file that is not a database at all.
    Statement version(db_, "PRAGMA user_version");
    if (version.step() != SQLITE_ROW) fail("be read");
    const int64_t found = version.integer(0);
    if (found > kSchemaVersion) {
        throw HostError("shelf database '" + file_.string() + "' was made by a newer qzhost (schema " +
                        std::to_string(found) + ")");
    }
    if (found == kSchemaVersion) return;
    const char *schema =
        "BEGIN IMMEDIATE;"
        "CREATE TABLE IF NOT EXISTS presets ("
        "  id INTEGER PRIMARY KEY,"
        "  class TEXT NOT NULL, server TEXT NOT NULL, name TEXT NOT NULL, created TEXT NOT NULL,"
        "  settings TEXT NOT NULL, thumbnail BLOB NOT NULL);"
        "PRAGMA user_version = 1;"
        "COMMIT;";
    if (sqlite3_exec(db_, schema, nullptr, nullptr, nullptr) != SQLITE_OK) abandon("be set up");
}

int64_t PresetStore::add(Preset preset) {
    if (preset.created.empty()) preset.created = nowUtc();
    if (!preset.name.empty()) preset.name = presetName(preset.name);
    Json settings = Json::array();
    for (Json &block : preset.settings) settings.push_back(std::move(block));
    // The default name needs the id, so the insert and the naming are one
    // transaction: nobody ever sees a preset without its name.
    if (sqlite3_exec(db_, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr) != SQLITE_OK) fail("add a preset");
    Statement insert(db_, "INSERT INTO presets (class, server, name, created, settings, thumbnail) "
                          "VALUES (?1, ?2, ?3, ?4, ?5, ?6)");
    insert.bind(1, preset.className).bind(2, preset.server).bind(3, preset.name).bind(4, preset.created);
    insert.bind(5, settings.dump()).bind(6, preset.thumbnail);
    const bool inserted = insert.step() == SQLITE_DONE;
    const int64_t id = sqlite3_last_insert_rowid(db_);
    bool named = true;
    if (inserted && preset.name.empty()) {
        Statement name(db_, "UPDATE presets SET name = 'Preset ' || id WHERE id = ?1");
        named = name.bind(1, id).step() == SQLITE_DONE;
    }
    if (!inserted || !named || sqlite3_exec(db_, "COMMIT", nullptr, nullptr, nullptr) != SQLITE_OK) {
        abandon("add a preset");
    }
    return id;
}

std::vector<Preset> PresetStore::list() const {
    Statement select(db_, (std::string("SELECT ") + kColumns + " FROM presets ORDER BY id").c_str());
    std::vector<Preset> presets;
    int result;
    while ((result = select.step()) == SQLITE_ROW) presets.push_back(presetFrom(select));
    if (result != SQLITE_DONE) fail("list presets");
    return presets;
}

std::optional<Preset> PresetStore::get(int64_t id) const {
    Statement select(db_, (std::string("SELECT ") + kColumns + " FROM presets WHERE id = ?1").c_str());
    const int result = select.bind(1, id).step();
    if (result == SQLITE_ROW) return presetFrom(select);
    if (result != SQLITE_DONE) fail("read a preset");
    return std::nullopt;
}

bool PresetStore::rename(int64_t id, const std::string &name) {
    Statement update(db_, "UPDATE presets SET name = ?2 WHERE id = ?1");
    if (update.bind(1, id).bind(2, presetName(name)).step() != SQLITE_DONE) fail("rename a preset");
    return sqlite3_changes(db_) > 0;
}

bool PresetStore::remove(int64_t id) {
    Statement erase(db_, "DELETE FROM presets WHERE id = ?1");
    if (erase.bind(1, id).step() != SQLITE_DONE) fail("delete a preset");
    return sqlite3_changes(db_) > 0;
}

}  // namespace qzhost
