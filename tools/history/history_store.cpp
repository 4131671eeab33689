#include "history_store.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <set>

#include <sqlite3.h>

#include "image_packing.h"
#include "local_time.h"

namespace history {

namespace {
// "TRMK": tells a trm27k history from any other SQLite file.
constexpr int kApplicationId = 0x54524D4B;

constexpr const char* kSchema =
    "CREATE TABLE history ("
    " id INTEGER PRIMARY KEY, time TEXT NOT NULL, data_id INTEGER NOT NULL,"
    " device TEXT NOT NULL, record_type INTEGER NOT NULL, image BLOB NOT NULL);"
    "CREATE INDEX history_device ON history (data_id, device, id);"
    "CREATE TABLE alarms ("
    " id INTEGER PRIMARY KEY, time TEXT NOT NULL, data_id INTEGER NOT NULL,"
    " device TEXT NOT NULL, state TEXT NOT NULL, level INTEGER NOT NULL, key TEXT NOT NULL,"
    " code TEXT NOT NULL, name TEXT NOT NULL, detail TEXT NOT NULL);";
// Added by schema 2 (schema 1 had only the two tables above, unversioned).
constexpr const char* kSchema2 =
    "CREATE TABLE active_alarms ("
    " data_id INTEGER NOT NULL, device TEXT NOT NULL, level INTEGER NOT NULL, key TEXT NOT NULL,"
    " code TEXT NOT NULL, name TEXT NOT NULL, detail TEXT NOT NULL);"
    "CREATE TABLE seen ("
    " data_id INTEGER NOT NULL, device TEXT NOT NULL, time TEXT NOT NULL,"
    " PRIMARY KEY (data_id, device)) WITHOUT ROWID;";

// Schema 4 stores images deflated with their length beside them; the rows
// of earlier files keep their whole image and a NULL length.
constexpr const char* kSchema4 = "ALTER TABLE history ADD COLUMN image_length INTEGER;";

// Schema 3 keeps every time in UTC; the local times of earlier files are
// read as local time once, here. A text that is no time stays as it was.
constexpr const char* kTimesToUtc =
    "UPDATE history SET time = coalesce(strftime('%Y-%m-%dT%H:%M:%SZ', time, 'utc'), time);"
    "UPDATE alarms SET time = coalesce(strftime('%Y-%m-%dT%H:%M:%SZ', time, 'utc'), time);"
    "UPDATE seen SET time = coalesce(strftime('%Y-%m-%dT%H:%M:%SZ', time, 'utc'), time);";

void BindText(sqlite3_stmt* s, int index, const std::string& text) {
    sqlite3_bind_text(s, index, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
}

void BindTime(sqlite3_stmt* s, int index, const std::string& shown) {
    BindText(s, index, site::StoredTime(shown));
}

// A column as text, all its bytes: a device text may hold zero bytes (the
// model check's detail ends in the 20-byte model field), and a text cut at
// the first would no longer name the same rule. A NULL (a row written by
// something else) gives "".
std::string Text(sqlite3_stmt* s, int column) {
    const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(s, column));
    return text != nullptr ? std::string(text, static_cast<size_t>(sqlite3_column_bytes(s, column))) : "";
}

// Columns 0 to 6: id, time, data_id, device, record_type, image, image_length.
ImageRow ReadImageRow(sqlite3_stmt* s) {
    ImageRow row;
    row.id = sqlite3_column_int64(s, 0);
    row.time = site::ShownTime(Text(s, 1));
    row.dataId = static_cast<unsigned int>(sqlite3_column_int64(s, 2));
    row.device = Text(s, 3);
    row.recordType = sqlite3_column_int(s, 4);
    ReadImage(s, 5, row.image);
    return row;
}

void BindAlarm(sqlite3_stmt* s, const AlarmRow& row, bool withState) {
    int k = 1;
    if (withState) BindTime(s, k++, row.time);
    sqlite3_bind_int64(s, k++, row.dataId);
    BindText(s, k++, row.device);
    if (withState) BindText(s, k++, row.state);
    sqlite3_bind_int(s, k++, row.level);
    for (const std::string* text : {&row.key, &row.code, &row.name, &row.detail}) {
        BindText(s, k++, *text);
    }
}

// A file name as an SQLite URI path: '%', '?' and '#' escaped.
std::string UriPath(const std::string& path) {
    std::string out = "file:";
    for (char c : path) {
        if (c == '%' || c == '?' || c == '#') {
            static constexpr char kHex[] = "0123456789ABCDEF";
            out += '%';
            out += kHex[static_cast<unsigned char>(c) >> 4];
            out += kHex[c & 0xF];
        } else {
            out += c;
        }
    }
    return out;
}

// One integer from a statement, or false with SQLite's reason.
bool QueryInt(sqlite3* db, const char* sql, int64_t& out, std::string& error) {
    sqlite3_stmt* s = nullptr;
    bool ok = sqlite3_prepare_v2(db, sql, -1, &s, nullptr) == SQLITE_OK &&
              sqlite3_step(s) == SQLITE_ROW;
    if (ok) out = sqlite3_column_int64(s, 0);
    if (!ok) error = sqlite3_errmsg(db);
    sqlite3_finalize(s);
    return ok;
}

bool TableNames(sqlite3* db, std::set<std::string>& out, std::string& error) {
    sqlite3_stmt* s = nullptr;
    if (sqlite3_prepare_v2(db, "SELECT name FROM sqlite_master WHERE type = 'table'"
                               " AND name NOT LIKE 'sqlite_%'", -1, &s, nullptr) != SQLITE_OK) {
        error = sqlite3_errmsg(db);
        return false;
    }
    int rc = SQLITE_ROW;
    while ((rc = sqlite3_step(s)) == SQLITE_ROW) out.insert(Text(s, 0));
    if (rc != SQLITE_DONE) error = sqlite3_errmsg(db);
    sqlite3_finalize(s);
    return rc == SQLITE_DONE;
}

std::string Join(const std::set<std::string>& names) {
    std::string out;
    for (const std::string& n : names) out += (out.empty() ? "" : ", ") + n;
    return out;
}
}  // namespace

void ReadImage(sqlite3_stmt* s, int column, std::vector<uint8_t>& out) {
    const auto* blob = static_cast<const uint8_t*>(sqlite3_column_blob(s, column));
    const auto bytes = static_cast<size_t>(sqlite3_column_bytes(s, column));
    const bool whole = sqlite3_column_type(s, column + 1) == SQLITE_NULL;
    if (!UnpackImage(blob, bytes, whole ? -1 : sqlite3_column_int64(s, column + 1), out)) out.clear();
}

int RecordTypeOf(const std::string& device) {
    if (device == "trm27k-ac") return 5175;
    if (device == "trm27k-dc") return 5176;
    if (device == "trm27k-rc") return 5177;
    return 0;
}

HistoryStore::~HistoryStore() {
    for (sqlite3_stmt* s : {insertImage_, insertAlarm_, insertActive_, upsertSeen_, pruneImages_,
                            pruneAlarms_, latest_, count_}) {
        sqlite3_finalize(s);
    }
    if (db_ != nullptr) sqlite3_close(db_);
}

bool HistoryStore::Exec(const char* sql, std::string& error) {
    char* message = nullptr;
    if (sqlite3_exec(db_, sql, nullptr, nullptr, &message) == SQLITE_OK) return true;
    error = message != nullptr ? message : sqlite3_errmsg(db_);
    sqlite3_free(message);
    return false;
}

// What a file holds, told before anything is written to it: -1 when it is
// not a trm27k history (or cannot be read), 0 when it is new or empty, else
// its schema version (1 for the unversioned layout of earlier monitors).
int HistoryStore::Identify(const std::string& path, std::string& error) {
    int64_t appId = 0, version = 0;
    std::set<std::string> tables;
    std::string why;
    if (!QueryInt(db_, "PRAGMA application_id", appId, why) ||
        !QueryInt(db_, "PRAGMA user_version", version, why) || !TableNames(db_, tables, why)) {
        error = path + ": not a readable trm27k history database (" + why + ")";
        return -1;
    }
    if (appId == 0 && version == 0) {
        if (tables.empty()) return 0;
        if (tables == std::set<std::string>{"alarms", "history"}) return 1;
    }
    if (appId != kApplicationId) {
        error = path + ": not a trm27k history database (" +
                (tables.empty() ? "application id " + std::to_string(appId)
                                : "it holds the tables " + Join(tables)) + ")";
        return -1;
    }
    if (version > kSchemaVersion || version < 1) {
        error = path + ": history schema " + std::to_string(version) + " is not one this monitor " +
                "knows (1 to " + std::to_string(kSchemaVersion) + "); a newer trm27k wrote it?";
        return -1;
    }
    return static_cast<int>(version);
}

// Brings a database of schema `from` (0: empty) to the current one.
bool HistoryStore::Migrate(int from, std::string& error) {
    if (from == kSchemaVersion) return true;
    const std::string sql = std::string("BEGIN IMMEDIATE;") + (from == 0 ? kSchema : "") +
                            (from <= 1 ? kSchema2 : "") + (from == 1 || from == 2 ? kTimesToUtc : "") +
                            kSchema4 +
                            "PRAGMA application_id = " + std::to_string(kApplicationId) + ";" +
                            "PRAGMA user_version = " + std::to_string(kSchemaVersion) + ";COMMIT;";
    if (Exec(sql.c_str(), error)) return true;
    std::string ignored;
    Exec("ROLLBACK", ignored);
    return false;
}

bool HistoryStore::Prepare(std::string& error) {
    // Schema 1 (read only) has no confirmation times.
    const std::string latest =
        schema_ >= 2 ? "SELECT h.id, h.time, h.data_id, h.device, h.record_type, h.image, " +
                           ImageLengthColumn("h.") + ", s.time FROM history h LEFT JOIN seen s"
                           " ON s.data_id = h.data_id AND s.device = h.device"
                           " WHERE h.data_id = ? AND h.device = ? ORDER BY h.id DESC LIMIT 1"
                     : "SELECT id, time, data_id, device, record_type, image, NULL, NULL FROM history"
                       " WHERE data_id = ? AND device = ? ORDER BY id DESC LIMIT 1";
    std::vector<std::pair<sqlite3_stmt**, const char*>> statements = {
        {&latest_, latest.c_str()},
        {&count_, "SELECT count(*) FROM history WHERE data_id = ? AND device = ?"},
    };
    if (!readOnly_) {
        statements.insert(statements.end(), {
            {&insertImage_, "INSERT INTO history (time, data_id, device, record_type, image,"
                            " image_length) VALUES (?, ?, ?, ?, ?, ?)"},
            {&insertAlarm_, "INSERT INTO alarms (time, data_id, device, state, level, key, code,"
                            " name, detail) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?)"},
            {&insertActive_, "INSERT INTO active_alarms (data_id, device, level, key, code, name,"
                             " detail) VALUES (?, ?, ?, ?, ?, ?, ?)"},
            {&upsertSeen_, "INSERT INTO seen (data_id, device, time) VALUES (?, ?, ?)"
                           " ON CONFLICT (data_id, device) DO UPDATE SET time = excluded.time"},
            // Of the 200 oldest rows by id, those past the retention go: a
            // write stays short however much is due.
            {&pruneImages_, "DELETE FROM history WHERE id IN (SELECT id FROM history ORDER BY id"
                            " LIMIT 200) AND time < ?"},
            {&pruneAlarms_, "DELETE FROM alarms WHERE id IN (SELECT id FROM alarms ORDER BY id"
                            " LIMIT 200) AND time < ?"},
        });
    }
    for (const auto& [statement, sql] : statements) {
        if (sqlite3_prepare_v2(db_, sql, -1, statement, nullptr) != SQLITE_OK) {
            error = sqlite3_errmsg(db_);
            return false;
        }
    }
    return true;
}

void RetryWhileBusy(sqlite3* db, int timeoutMs) {
    const auto retry = [](void* limit, int tries) -> int {
        if (tries >= static_cast<int>(reinterpret_cast<intptr_t>(limit))) return 0;
        ::usleep(1000);
        return 1;
    };
    sqlite3_busy_handler(db, retry, reinterpret_cast<void*>(static_cast<intptr_t>(timeoutMs)));
}

bool HistoryStore::Open(const std::string& path, std::string& error) {
    struct stat st {};
    if (path != ":memory:" && ::stat(path.c_str(), &st) == 0 && !S_ISREG(st.st_mode)) {
        error = path + ": not a regular file";
        return false;
    }
    if (sqlite3_open_v2(path.c_str(), &db_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr) !=
        SQLITE_OK) {
        error = path + ": cannot open: " + sqlite3_errmsg(db_);
        return false;
    }
    // Written from the poll thread: long enough to ride out a reader's
    // checkpoint, short against the 2-second gate between exchanges.
    RetryWhileBusy(db_, 500);
    const int version = Identify(path, error);
    if (version < 0) return false;
    // A new file gets small pages: every commit writes each page it touched
    // whole to the write-ahead log, and most of them (the tree's inner
    // pages, the index's, the seen rows) change by a few bytes. Set before
    // the file is made; an existing file keeps its size.
    if (version == 0 && !Exec("PRAGMA page_size=1024", error)) return false;
    // A small page cache: the history is written, rarely read, on a small board.
    if (!Exec("PRAGMA journal_mode=WAL; PRAGMA synchronous=NORMAL; PRAGMA cache_size=-256;", error) ||
        !Migrate(version, error)) {
        error = path + ": " + error;
        return false;
    }
    schema_ = kSchemaVersion;
    if (Prepare(error)) return true;
    error = path + ": " + error;
    return false;
}

bool HistoryStore::OpenReadOnly(const std::string& path, std::string& error) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
        error = path + ": " + std::strerror(errno);
        return false;
    }
    if (!S_ISREG(st.st_mode)) {
        error = path + ": not a regular file";
        return false;
    }
    readOnly_ = true;
    // Without a write-ahead log beside it (no writer has it open, and the
    // last one checkpointed) the file is read as unchanging, and SQLite
    // creates nothing beside it. With one, a writer may be at work: read
    // only, through its shared memory; in a folder this process may not
    // write to that cannot be had, and the file is read as unchanging.
    struct stat wal {};
    const bool walInUse = ::stat((path + "-wal").c_str(), &wal) == 0 && wal.st_size > 0;
    const char* const modes[] = {walInUse ? "?mode=ro" : "?immutable=1", walInUse ? "?immutable=1" : "?mode=ro"};
    for (const char* mode : modes) {
        if (db_ != nullptr) sqlite3_close(db_);
        db_ = nullptr;
        const std::string uri = UriPath(path) + mode;
        if (sqlite3_open_v2(uri.c_str(), &db_, SQLITE_OPEN_READONLY | SQLITE_OPEN_URI, nullptr) !=
            SQLITE_OK) {
            error = path + ": cannot open: " + sqlite3_errmsg(db_);
            continue;
        }
        sqlite3_busy_timeout(db_, 1000);
        schema_ = Identify(path, error);
        if (schema_ == 0) return true;  // empty: nothing to read
        if (schema_ > 0) return Prepare(error) || (error = path + ": " + error, false);
        if (sqlite3_extended_errcode(db_) != SQLITE_CANTOPEN) return false;
    }
    return false;
}

// Files before schema 4, read only, have no image lengths: every image is whole.
std::string HistoryStore::ImageLengthColumn(const char* table) const {
    return schema_ >= 4 ? std::string(table) + "image_length" : "NULL";
}

bool HistoryStore::Step(sqlite3_stmt* s, std::string& error) {
    const bool ok = sqlite3_step(s) == SQLITE_DONE;
    if (!ok) error = sqlite3_errmsg(db_);
    sqlite3_reset(s);
    sqlite3_clear_bindings(s);
    return ok;
}

bool HistoryStore::WriteBatch(const Batch& b, std::string& error) {
    for (const ImageRow& row : b.images) {
        BindTime(insertImage_, 1, row.time);
        sqlite3_bind_int64(insertImage_, 2, row.dataId);
        BindText(insertImage_, 3, row.device);
        sqlite3_bind_int(insertImage_, 4, row.recordType);
        const std::vector<uint8_t> packed = PackImage(row.image);
        const std::vector<uint8_t>& stored = packed.empty() ? row.image : packed;
        sqlite3_bind_blob(insertImage_, 5, stored.data(), static_cast<int>(stored.size()), SQLITE_TRANSIENT);
        if (!packed.empty()) sqlite3_bind_int64(insertImage_, 6, static_cast<int64_t>(row.image.size()));
        if (!Step(insertImage_, error)) return false;
    }
    for (const AlarmRow& row : b.alarms) {
        BindAlarm(insertAlarm_, row, true);
        if (!Step(insertAlarm_, error)) return false;
    }
    if (b.replaceActive && !Exec("DELETE FROM active_alarms", error)) return false;
    for (const ActiveAlarm& row : b.replaceActive ? b.active : std::vector<ActiveAlarm>()) {
        BindAlarm(insertActive_, row, false);
        if (!Step(insertActive_, error)) return false;
    }
    for (const SeenRow& row : b.seen) {
        sqlite3_bind_int64(upsertSeen_, 1, row.dataId);
        BindText(upsertSeen_, 2, row.device);
        BindTime(upsertSeen_, 3, row.time);
        if (!Step(upsertSeen_, error)) return false;
    }
    if (b.pruneBefore.empty()) return true;
    for (sqlite3_stmt* prune : {pruneImages_, pruneAlarms_}) {
        BindTime(prune, 1, b.pruneBefore);
        if (!Step(prune, error)) return false;
    }
    return true;
}

bool HistoryStore::Write(const Batch& batch, std::string& error) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (db_ == nullptr || readOnly_) {
        error = "the history is not open for writing";
        return false;
    }
    if (batch.durable && !Exec("PRAGMA synchronous=FULL", error)) return false;
    if (!Exec("BEGIN IMMEDIATE", error)) return RestoreSync(batch, false);
    bool ok = WriteBatch(batch, error);
    for (const CommitHook& hook : hooks_) ok = ok && hook(db_, batch.seq, error);
    const bool committed = ok && Exec("COMMIT", error);
    if (!committed) {
        std::string ignored;
        Exec("ROLLBACK", ignored);
    }
    for (const AfterCommit& after : afterHooks_) after(committed);
    return RestoreSync(batch, committed);
}

// Back to the ordinary setting after a durable batch; passes `result` on.
bool HistoryStore::RestoreSync(const Batch& batch, bool result) {
    std::string ignored;
    if (batch.durable) Exec("PRAGMA synchronous=NORMAL", ignored);
    return result;
}

void HistoryStore::AddCommitHook(CommitHook hook, AfterCommit after) {
    std::lock_guard<std::mutex> lock(mutex_);
    hooks_.push_back(std::move(hook));
    if (after) afterHooks_.push_back(std::move(after));
}

bool HistoryStore::LatestImage(unsigned int dataId, const std::string& device, ImageRow& out) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (latest_ == nullptr) return false;
    sqlite3_bind_int64(latest_, 1, dataId);
    BindText(latest_, 2, device);
    const bool found = sqlite3_step(latest_) == SQLITE_ROW;
    if (found) {
        // Both stored times compare as instants; the later is shown.
        const std::string saved = Text(latest_, 1);
        const std::string seen = Text(latest_, 7);
        out = ReadImageRow(latest_);
        if (seen > saved) out.time = site::ShownTime(seen);
    }
    sqlite3_reset(latest_);
    return found;
}

std::vector<ActiveAlarm> HistoryStore::ActiveAlarms() {
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<ActiveAlarm> rows;
    sqlite3_stmt* s = nullptr;
    if (db_ == nullptr || schema_ < 2 ||
        sqlite3_prepare_v2(db_, "SELECT data_id, device, level, key, code, name, detail FROM"
                                " active_alarms ORDER BY rowid", -1, &s, nullptr) != SQLITE_OK) {
        return rows;
    }
    while (sqlite3_step(s) == SQLITE_ROW) {
        ActiveAlarm a;
        a.dataId = static_cast<unsigned int>(sqlite3_column_int64(s, 0));
        a.device = Text(s, 1);
        a.level = sqlite3_column_int(s, 2);
        a.key = Text(s, 3);
        a.code = Text(s, 4);
        a.name = Text(s, 5);
        a.detail = Text(s, 6);
        rows.push_back(std::move(a));
    }
    sqlite3_finalize(s);
    return rows;
}

int64_t HistoryStore::CountImages(unsigned int dataId, const std::string& device) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (count_ == nullptr) return 0;
    sqlite3_bind_int64(count_, 1, dataId);
    BindText(count_, 2, device);
    const int64_t n = sqlite3_step(count_) == SQLITE_ROW ? sqlite3_column_int64(count_, 0) : 0;
    sqlite3_reset(count_);
    return n;
}

bool HistoryStore::EachRow(const char* sql, const std::function<void(const ImageRow&)>& each,
                           std::string& error) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (db_ == nullptr || schema_ == 0) return true;  // an empty file: nothing to read
    sqlite3_stmt* s = nullptr;
    if (sqlite3_prepare_v2(db_, sql, -1, &s, nullptr) != SQLITE_OK) {
        error = sqlite3_errmsg(db_);
        return false;
    }
    int rc = SQLITE_ROW;
    while ((rc = sqlite3_step(s)) == SQLITE_ROW) each(ReadImageRow(s));
    if (rc != SQLITE_DONE) error = sqlite3_errmsg(db_);
    sqlite3_finalize(s);
    return rc == SQLITE_DONE;
}

std::vector<ImageRow> HistoryStore::LatestOfEach() {
    std::vector<ImageRow> rows;
    std::string ignored;
    EachRow(("SELECT id, time, data_id, device, record_type, image, " + ImageLengthColumn() +
             " FROM history WHERE id IN (SELECT max(id) FROM history GROUP BY data_id, device)"
             " ORDER BY data_id, device").c_str(),
            [&rows](const ImageRow& row) { rows.push_back(row); }, ignored);
    return rows;
}

bool HistoryStore::ForEachImage(const std::function<void(const ImageRow&)>& each,
                                std::string& error) {
    return EachRow(("SELECT id, time, data_id, device, record_type, image, " + ImageLengthColumn() +
                    " FROM history ORDER BY id").c_str(),
                   each, error);
}

}  // namespace history
