#include "outbox.h"

#include <sqlite3.h>

#include "history_store.h"
#include "outbox_sql.h"

namespace mqtt {

Outbox::~Outbox() {
    for (sqlite3_stmt* s : {insert_, pending_, delete_, dropOldest_, saveSeq_}) sqlite3_finalize(s);
    if (db_ != nullptr) sqlite3_close(db_);
}

bool Outbox::Prepare(std::string& error) {
    const std::pair<const char*, sqlite3_stmt**> statements[] = {
        {sql::kInsert, &insert_}, {sql::kPending, &pending_}, {sql::kDelete, &delete_},
        {sql::kDropOldest, &dropOldest_}, {sql::kSaveSeq, &saveSeq_}};
    for (const auto& [text, stmt] : statements) {
        if (sqlite3_prepare_v2(db_, text, -1, stmt, nullptr) != SQLITE_OK) {
            error = std::string("outbox: ") + sqlite3_errmsg(db_);
            return false;
        }
    }
    return true;
}

bool Outbox::Open(const std::string& path, uint64_t maxBytes, std::string& error) {
    maxBytes_ = maxBytes;
    if (sqlite3_open(path.c_str(), &db_) != SQLITE_OK) {
        error = "cannot open the outbox in " + path + ": " + sqlite3_errmsg(db_);
        return false;
    }
    history::RetryWhileBusy(db_, 5000);
    char* message = nullptr;
    if (sqlite3_exec(db_, "PRAGMA journal_mode=WAL; PRAGMA synchronous=NORMAL; PRAGMA cache_size=-256;", nullptr, nullptr,
                     &message) != SQLITE_OK ||
        sqlite3_exec(db_, sql::kSchema, nullptr, nullptr, &message) != SQLITE_OK) {
        error = std::string("outbox: ") + (message != nullptr ? message : "sqlite error");
        sqlite3_free(message);
        return false;
    }
    if (!Prepare(error)) return false;
    sqlite3_stmt* s = nullptr;
    sqlite3_prepare_v2(db_, sql::kTotals, -1, &s, nullptr);
    if (sqlite3_step(s) == SQLITE_ROW) {
        count_ = static_cast<uint64_t>(sqlite3_column_int64(s, 0));
        bytes_ = static_cast<uint64_t>(sqlite3_column_int64(s, 1));
    }
    sqlite3_finalize(s);
    sqlite3_prepare_v2(db_, sql::kLoadSeq, -1, &s, nullptr);
    if (sqlite3_step(s) == SQLITE_ROW) seq_ = static_cast<uint64_t>(sqlite3_column_int64(s, 0));
    sqlite3_finalize(s);
    return true;
}

int64_t Outbox::Step(sqlite3_stmt* s) {
    const int64_t value = sqlite3_step(s) == SQLITE_ROW ? sqlite3_column_int64(s, 0) : -1;
    while (sqlite3_step(s) == SQLITE_ROW) {
    }
    sqlite3_reset(s);
    return value;
}

namespace {
// One message bound to the insert statement and run.
bool InsertMessage(sqlite3_stmt* s, const Message& m) {
    sqlite3_bind_int(s, 1, static_cast<int>(m.kind));
    sqlite3_bind_text(s, 2, m.topic.data(), static_cast<int>(m.topic.size()), SQLITE_STATIC);
    sqlite3_bind_blob(s, 3, m.payload.data(), static_cast<int>(m.payload.size()), SQLITE_STATIC);
    sqlite3_bind_int(s, 4, m.retain ? 1 : 0);
    const bool ok = sqlite3_step(s) == SQLITE_DONE;
    sqlite3_reset(s);
    return ok;
}

bool SaveSeq(sqlite3_stmt* s, uint64_t seq) {
    sqlite3_bind_int64(s, 1, static_cast<int64_t>(seq));
    const bool ok = sqlite3_step(s) == SQLITE_DONE;
    sqlite3_reset(s);
    return ok;
}
}  // namespace

bool Outbox::Append(const std::vector<Message>& messages, uint64_t seq) {
    std::lock_guard<std::mutex> lock(mutex_);
    bool ok = sqlite3_exec(db_, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr) == SQLITE_OK;
    uint64_t added = 0;
    for (const Message& m : messages) {
        if (!ok) break;
        ok = InsertMessage(insert_, m);
        added += m.payload.size();
    }
    if (ok && seq > seq_) ok = SaveSeq(saveSeq_, seq);
    ok = ok && sqlite3_exec(db_, "COMMIT", nullptr, nullptr, nullptr) == SQLITE_OK;
    if (!ok) {
        sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
        return false;
    }
    count_ += messages.size();
    bytes_ += added;
    if (seq > seq_) seq_ = seq;
    Trim();
    return true;
}

// The statements are made on the caller's connection for each call: a few
// microseconds a cycle, and nothing of this object outlives that connection.
// No lock of this object is taken here: the sender may hold it while it
// waits for the very transaction this runs in.
bool Outbox::AppendWithin(sqlite3* db, const std::vector<Message>& messages, uint64_t seq,
                          std::string& error) {
    sqlite3_stmt* insert = nullptr;
    sqlite3_stmt* saveSeq = nullptr;
    bool ok = sqlite3_prepare_v2(db, sql::kInsert, -1, &insert, nullptr) == SQLITE_OK &&
              sqlite3_prepare_v2(db, sql::kSaveSeq, -1, &saveSeq, nullptr) == SQLITE_OK;
    for (size_t i = 0; ok && i < messages.size(); ++i) ok = InsertMessage(insert, messages[i]);
    if (ok && seq > 0) ok = SaveSeq(saveSeq, seq);
    if (!ok) error = std::string("outbox: ") + sqlite3_errmsg(db);
    sqlite3_finalize(insert);
    sqlite3_finalize(saveSeq);
    return ok;
}

void Outbox::Committed(size_t count, uint64_t bytes, uint64_t seq) {
    std::lock_guard<std::mutex> lock(mutex_);
    count_ += count;
    bytes_ += bytes;
    if (seq > seq_) seq_ = seq;
    Trim();
}

// Oldest states go first, then active-alarm lists (a newer one follows them),
// alarm raises and clears last of all.
void Outbox::Trim() {
    for (const Kind kind : {Kind::State, Kind::Alarms, Kind::Alarm}) {
        while (bytes_ > maxBytes_) {
            sqlite3_bind_int(dropOldest_, 1, static_cast<int>(kind));
            const int64_t length = Step(dropOldest_);
            if (length < 0) break;
            bytes_ -= static_cast<uint64_t>(length);
            --count_;
            ++dropped_[static_cast<size_t>(kind)];
        }
    }
}

std::vector<OutboxRow> Outbox::Pending(int64_t after, int count) {
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<OutboxRow> rows;
    sqlite3_bind_int64(pending_, 1, after);
    sqlite3_bind_int(pending_, 2, count);
    while (sqlite3_step(pending_) == SQLITE_ROW) {
        OutboxRow row;
        row.id = sqlite3_column_int64(pending_, 0);
        row.message.kind = static_cast<Kind>(sqlite3_column_int(pending_, 1));
        row.message.topic = reinterpret_cast<const char*>(sqlite3_column_text(pending_, 2));
        const auto* blob = static_cast<const char*>(sqlite3_column_blob(pending_, 3));
        row.message.payload.assign(blob != nullptr ? blob : "", static_cast<size_t>(sqlite3_column_bytes(pending_, 3)));
        row.message.retain = sqlite3_column_int(pending_, 4) != 0;
        rows.push_back(std::move(row));
    }
    sqlite3_reset(pending_);
    return rows;
}

// One transaction for all of them: one commit, and each page they share
// written to the log once.
void Outbox::Remove(const std::vector<int64_t>& ids) {
    if (ids.empty()) return;
    std::lock_guard<std::mutex> lock(mutex_);
    const bool grouped = sqlite3_exec(db_, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr) == SQLITE_OK;
    for (const int64_t id : ids) {
        sqlite3_bind_int64(delete_, 1, id);
        const int64_t length = Step(delete_);
        if (length < 0) continue;  // already gone: a duplicate acknowledgement, or dropped
        bytes_ -= static_cast<uint64_t>(length);
        --count_;
    }
    if (grouped) sqlite3_exec(db_, "COMMIT", nullptr, nullptr, nullptr);
}

uint64_t Outbox::Count() {
    std::lock_guard<std::mutex> lock(mutex_);
    return count_;
}

uint64_t Outbox::Bytes() {
    std::lock_guard<std::mutex> lock(mutex_);
    return bytes_;
}

std::array<uint64_t, 3> Outbox::Dropped() {
    std::lock_guard<std::mutex> lock(mutex_);
    return dropped_;
}

uint64_t Outbox::LastSeq() {
    std::lock_guard<std::mutex> lock(mutex_);
    return seq_;
}

}  // namespace mqtt
