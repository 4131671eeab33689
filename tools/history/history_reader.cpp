#include "history_reader.h"

#include <sqlite3.h>

#include "local_time.h"

namespace history {

HistoryReader::~HistoryReader() {
    if (db_ != nullptr) sqlite3_close(db_);
}

bool HistoryReader::Open(const std::string& path, std::string& error) {
    if (sqlite3_open_v2(path.c_str(), &db_, SQLITE_OPEN_READONLY | SQLITE_OPEN_NOMUTEX, nullptr) !=
        SQLITE_OK) {
        error = "cannot read the history " + path + ": " + sqlite3_errmsg(db_);
        return false;
    }
    sqlite3_busy_timeout(db_, 500);
    return true;
}

namespace {
// All the column's bytes, zero bytes of a device text included.
std::string Column(sqlite3_stmt* s, int column) {
    const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(s, column));
    return text != nullptr ? std::string(text, static_cast<size_t>(sqlite3_column_bytes(s, column))) : "";
}
}  // namespace

bool HistoryReader::Images(unsigned int dataId, const std::string& since, const std::string& until,
                           int limit, std::vector<ImageRow>& out, int stepSeconds) {
    out.clear();
    sqlite3_stmt* s = nullptr;
    // Slices are counted from 1970 in UTC, so the same step always cuts at
    // the same moments.
    const char* sql =
        "SELECT id, time, data_id, device, record_type, image, image_length FROM history"
        " WHERE data_id = ?1 AND (?2 = '' OR time >= ?2) AND (?3 = '' OR time <= ?3)"
        " AND (?5 <= 0 OR id IN (SELECT MIN(id) FROM history"
        "   WHERE data_id = ?1 AND (?2 = '' OR time >= ?2) AND (?3 = '' OR time <= ?3)"
        "   GROUP BY CAST(strftime('%s', time) AS INTEGER) / ?5))"
        " ORDER BY id LIMIT ?4";
    if (db_ == nullptr || sqlite3_prepare_v2(db_, sql, -1, &s, nullptr) != SQLITE_OK) return false;
    sqlite3_bind_int64(s, 1, dataId);
    const std::string from = site::StoredTime(since), to = site::StoredTime(until);
    sqlite3_bind_text(s, 2, from.data(), static_cast<int>(from.size()), SQLITE_TRANSIENT);
    sqlite3_bind_text(s, 3, to.data(), static_cast<int>(to.size()), SQLITE_TRANSIENT);
    sqlite3_bind_int(s, 4, limit);
    sqlite3_bind_int(s, 5, stepSeconds);
    int rc;
    while ((rc = sqlite3_step(s)) == SQLITE_ROW) {
        ImageRow row;
        row.id = sqlite3_column_int64(s, 0);
        row.time = site::ShownTime(Column(s, 1));
        row.dataId = static_cast<unsigned int>(sqlite3_column_int64(s, 2));
        row.device = Column(s, 3);
        row.recordType = sqlite3_column_int(s, 4);
        ReadImage(s, 5, row.image);
        out.push_back(std::move(row));
    }
    sqlite3_finalize(s);
    return rc == SQLITE_DONE;
}

bool HistoryReader::RecentAlarms(int limit, std::vector<AlarmRow>& out) {
    out.clear();
    sqlite3_stmt* s = nullptr;
    const char* sql =
        "SELECT time, data_id, device, state, level, key, code, name, detail FROM alarms"
        " ORDER BY id DESC LIMIT ?1";
    if (db_ == nullptr || sqlite3_prepare_v2(db_, sql, -1, &s, nullptr) != SQLITE_OK) return false;
    sqlite3_bind_int(s, 1, limit);
    int rc;
    while ((rc = sqlite3_step(s)) == SQLITE_ROW) {
        AlarmRow row;
        row.time = site::ShownTime(Column(s, 0));
        row.dataId = static_cast<unsigned int>(sqlite3_column_int64(s, 1));
        row.device = Column(s, 2);
        row.state = Column(s, 3);
        row.level = sqlite3_column_int(s, 4);
        row.key = Column(s, 5);
        row.code = Column(s, 6);
        row.name = Column(s, 7);
        row.detail = Column(s, 8);
        out.push_back(std::move(row));
    }
    sqlite3_finalize(s);
    return rc == SQLITE_DONE;
}

}  // namespace history
