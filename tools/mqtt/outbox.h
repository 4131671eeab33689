#pragma once
// The store-and-forward outbox: every state and alarm message is written here
// before it is sent and removed only when the broker acknowledged it, so a
// broker outage or a restart loses nothing. Bounded by payload bytes: when
// full it drops the oldest states first, then the oldest active-alarm lists,
// alarm raises and clears last, and counts every drop. Safe from several
// threads (the sender and the client's acknowledgement callback).
#include <array>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "messages.h"

struct sqlite3;
struct sqlite3_stmt;

namespace mqtt {

struct OutboxRow {
    int64_t id = 0;
    Message message;
};

class Outbox {
public:
    Outbox() = default;
    ~Outbox();
    Outbox(const Outbox&) = delete;
    Outbox& operator=(const Outbox&) = delete;

    // Opens the outbox in the database at `path` (the history database).
    bool Open(const std::string& path, uint64_t maxBytes, std::string& error);
    // Adds the messages and the sequence number reached, in one transaction;
    // then drops what exceeds the bound. False when the write failed.
    bool Append(const std::vector<Message>& messages, uint64_t seq);
    // The same within a transaction the caller holds on `db`, its own
    // connection to the outbox's database (the history's per-cycle
    // transaction). Committed() follows once that transaction committed.
    bool AppendWithin(sqlite3* db, const std::vector<Message>& messages, uint64_t seq,
                      std::string& error);
    void Committed(size_t count, uint64_t bytes, uint64_t seq);
    // Up to `count` rows after id `after`, oldest first.
    std::vector<OutboxRow> Pending(int64_t after, int count);
    // The rows the broker acknowledged; ids already gone are passed over.
    void Remove(const std::vector<int64_t>& ids);
    uint64_t Count();
    uint64_t Bytes();
    // Messages given up to keep the bound, by kind (state, active-alarm
    // lists, alarm raises and clears), since the outbox was opened.
    std::array<uint64_t, 3> Dropped();
    uint64_t LastSeq();

private:
    bool Prepare(std::string& error);
    void Trim();
    int64_t Step(sqlite3_stmt* s);  // the first column of the first row, or -1

    std::mutex mutex_;
    sqlite3* db_ = nullptr;
    sqlite3_stmt* insert_ = nullptr;
    sqlite3_stmt* pending_ = nullptr;
    sqlite3_stmt* delete_ = nullptr;
    sqlite3_stmt* dropOldest_ = nullptr;
    sqlite3_stmt* saveSeq_ = nullptr;
    uint64_t maxBytes_ = 0;
    uint64_t count_ = 0;
    uint64_t bytes_ = 0;
    std::array<uint64_t, 3> dropped_{};
    uint64_t seq_ = 0;
};

}  // namespace mqtt
