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
    // `limit` rows. With `stepSeconds` above 0 only the first image of each
    // step-long slice of time, so a week fits a chart. False when the query fails.
    bool Images(unsigned int dataId, const std::string& since, const std::string& until,
                int limit, std::vector<ImageRow>& out, int stepSeconds = 0);
    // The newest `limit` alarm raises and clears, newest first.
    bool RecentAlarms(int limit, std::vector<AlarmRow>& out);

private:
    sqlite3* db_ = nullptr;
};

}  // namespace history
