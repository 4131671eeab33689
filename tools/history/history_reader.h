#pragma once
// Reads the device history for the API on a connection of its own, opened
// read-only, so a reader never takes the writer's lock and a long query never
// holds up the poll's transaction (the database is in WAL mode).
#include <cstdint>
#include <string>
#include <vector>

#include "history_store.h"

struct sqlite3;

namespace history {

class HistoryReader {
public:
    HistoryReader() = default;
    ~HistoryReader();
    HistoryReader(const HistoryReader&) = delete;
    HistoryReader& operator=(const HistoryReader&) = delete;

    bool Open(const std::string& path, std::string& error);
    // Images of one data id with since <= time <= until (local ISO times,
    // compared as text; an empty bound is open), oldest first, at most
    // `limit` rows. False when the query fails.
    bool Images(unsigned int dataId, const std::string& since, const std::string& until,
                int limit, std::vector<ImageRow>& out);

private:
    sqlite3* db_ = nullptr;
};

}  // namespace history
