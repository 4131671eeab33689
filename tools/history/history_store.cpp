#include "history_store.h"

#include <sqlite3.h>

namespace history {

namespace {
constexpr const char* kSchema =
    "CREATE TABLE IF NOT EXISTS history ("
    " id INTEGER PRIMARY KEY AUTOINCREMENT, time TEXT NOT NULL, data_id INTEGER NOT NULL,"
    " device TEXT NOT NULL, record_type INTEGER NOT NULL, image BLOB NOT NULL);"
    "CREATE INDEX IF NOT EXISTS history_device ON history (data_id, device, id);"
    "CREATE TABLE IF NOT EXISTS alarms ("
    " id INTEGER PRIMARY KEY AUTOINCREMENT, time TEXT NOT NULL, data_id INTEGER NOT NULL,"
    " device TEXT NOT NULL, state TEXT NOT NULL, level INTEGER NOT NULL, key TEXT NOT NULL,"
    " code TEXT NOT NULL, name TEXT NOT NULL, detail TEXT NOT NULL);";

void BindText(sqlite3_stmt* s, int index, const std::string& text) {
    sqlite3_bind_text(s, index, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
}

ImageRow ReadImageRow(sqlite3_stmt* s) {
    ImageRow row;
    row.id = sqlite3_column_int64(s, 0);
    row.time = reinterpret_cast<const char*>(sqlite3_column_text(s, 1));
    row.dataId = static_cast<unsigned int>(sqlite3_column_int64(s, 2));
    row.device = reinterpret_cast<const char*>(sqlite3_column_text(s, 3));
    row.recordType = sqlite3_column_int(s, 4);
    const auto* blob = static_cast<const uint8_t*>(sqlite3_column_blob(s, 5));
    row.image.assign(blob, blob + sqlite3_column_bytes(s, 5));
    return row;
}
}  // namespace

int RecordTypeOf(const std::string& device) {
    if (device == "trm27k-ac") return 5175;
    if (device == "trm27k-dc") return 5176;
    if (device == "trm27k-rc") return 5177;
    return 0;
}

HistoryStore::~HistoryStore() {
    for (sqlite3_stmt* s : {insertImage_, insertAlarm_, latest_, count_}) sqlite3_finalize(s);
    if (db_ != nullptr) sqlite3_close(db_);
}

bool HistoryStore::Exec(const char* sql, std::string& error) {
    char* message = nullptr;
    if (sqlite3_exec(db_, sql, nullptr, nullptr, &message) == SQLITE_OK) return true;
    error = message != nullptr ? message : "sqlite error";
    sqlite3_free(message);
    return false;
}

bool HistoryStore::Open(const std::string& path, std::string& error) {
    if (sqlite3_open(path.c_str(), &db_) != SQLITE_OK) {
        error = "cannot open the history " + path + ": " + sqlite3_errmsg(db_);
        return false;
    }
    sqlite3_busy_timeout(db_, 2000);
    // A small page cache: the history is written, rarely read, on a small board.
    if (!Exec("PRAGMA journal_mode=WAL; PRAGMA synchronous=NORMAL; PRAGMA cache_size=-256;", error)) {
        return false;
    }
    if (!Exec(kSchema, error)) return false;
    const bool prepared =
        sqlite3_prepare_v2(db_,
                           "INSERT INTO history (time, data_id, device, record_type, image)"
                           " VALUES (?, ?, ?, ?, ?)", -1, &insertImage_, nullptr) == SQLITE_OK &&
        sqlite3_prepare_v2(db_,
                           "INSERT INTO alarms (time, data_id, device, state, level, key, code,"
                           " name, detail) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?)",
                           -1, &insertAlarm_, nullptr) == SQLITE_OK &&
        sqlite3_prepare_v2(db_,
                           "SELECT image FROM history WHERE data_id = ? AND device = ?"
                           " ORDER BY id DESC LIMIT 1", -1, &latest_, nullptr) == SQLITE_OK &&
        sqlite3_prepare_v2(db_, "SELECT count(*) FROM history WHERE data_id = ? AND device = ?",
                           -1, &count_, nullptr) == SQLITE_OK;
    if (!prepared) error = std::string("history: ") + sqlite3_errmsg(db_);
    return prepared;
}

bool HistoryStore::SaveImage(const ImageRow& row) {
    std::lock_guard<std::mutex> lock(mutex_);
    sqlite3_stmt* s = insertImage_;
    BindText(s, 1, row.time);
    sqlite3_bind_int64(s, 2, row.dataId);
    BindText(s, 3, row.device);
    sqlite3_bind_int(s, 4, row.recordType);
    sqlite3_bind_blob(s, 5, row.image.data(), static_cast<int>(row.image.size()), SQLITE_TRANSIENT);
    const bool ok = sqlite3_step(s) == SQLITE_DONE;
    sqlite3_reset(s);
    return ok;
}

bool HistoryStore::SaveAlarm(const AlarmRow& row) {
    std::lock_guard<std::mutex> lock(mutex_);
    sqlite3_stmt* s = insertAlarm_;
    BindText(s, 1, row.time);
    sqlite3_bind_int64(s, 2, row.dataId);
    BindText(s, 3, row.device);
    BindText(s, 4, row.state);
    sqlite3_bind_int(s, 5, row.level);
    BindText(s, 6, row.key);
    BindText(s, 7, row.code);
    BindText(s, 8, row.name);
    BindText(s, 9, row.detail);
    const bool ok = sqlite3_step(s) == SQLITE_DONE;
    sqlite3_reset(s);
    return ok;
}

bool HistoryStore::LatestImage(unsigned int dataId, const std::string& device,
                               std::vector<uint8_t>& out) {
    std::lock_guard<std::mutex> lock(mutex_);
    sqlite3_bind_int64(latest_, 1, dataId);
    BindText(latest_, 2, device);
    const bool found = sqlite3_step(latest_) == SQLITE_ROW;
    if (found) {
        const auto* blob = static_cast<const uint8_t*>(sqlite3_column_blob(latest_, 0));
        out.assign(blob, blob + sqlite3_column_bytes(latest_, 0));
    }
    sqlite3_reset(latest_);
    return found;
}

int64_t HistoryStore::CountImages(unsigned int dataId, const std::string& device) {
    std::lock_guard<std::mutex> lock(mutex_);
    sqlite3_bind_int64(count_, 1, dataId);
    BindText(count_, 2, device);
    const int64_t n = sqlite3_step(count_) == SQLITE_ROW ? sqlite3_column_int64(count_, 0) : 0;
    sqlite3_reset(count_);
    return n;
}

std::vector<ImageRow> HistoryStore::Query(const char* sql) {
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<ImageRow> rows;
    sqlite3_stmt* s = nullptr;
    if (sqlite3_prepare_v2(db_, sql, -1, &s, nullptr) != SQLITE_OK) return rows;
    while (sqlite3_step(s) == SQLITE_ROW) rows.push_back(ReadImageRow(s));
    sqlite3_finalize(s);
    return rows;
}

std::vector<ImageRow> HistoryStore::LatestOfEach() {
    return Query(
        "SELECT id, time, data_id, device, record_type, image FROM history WHERE id IN"
        " (SELECT max(id) FROM history GROUP BY data_id, device) ORDER BY data_id, device");
}

std::vector<ImageRow> HistoryStore::AllImages() {
    return Query("SELECT id, time, data_id, device, record_type, image FROM history ORDER BY id");
}

}  // namespace history
