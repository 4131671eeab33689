#pragma once
// The device history in SQLite: one row per saved record image, one row per
// alarm event. Each write is its own transaction, so a crash loses at most
// the row being written. Safe to use from several threads.
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

struct sqlite3;
struct sqlite3_stmt;

namespace history {

struct ImageRow {
    int64_t id = 0;
    std::string time;
    unsigned int dataId = 0;
    std::string device;
    int recordType = 0;
    std::vector<uint8_t> image;
};

struct AlarmRow {
    std::string time;
    unsigned int dataId = 0;
    std::string device;
    std::string state;  // "raised" or "cleared"
    int level = 0;
    std::string key, code, name, detail;
};

// Record type of a device type's data image ("trm27k-ac" 5175, -dc 5176, -rc 5177).
int RecordTypeOf(const std::string& device);

class HistoryStore {
public:
    HistoryStore() = default;
    ~HistoryStore();
    HistoryStore(const HistoryStore&) = delete;
    HistoryStore& operator=(const HistoryStore&) = delete;

    // Opens or creates the database; ":memory:" keeps it in memory.
    bool Open(const std::string& path, std::string& error);
    bool SaveImage(const ImageRow& row);
    bool SaveAlarm(const AlarmRow& row);
    // The newest image of one device, if any.
    bool LatestImage(unsigned int dataId, const std::string& device, std::vector<uint8_t>& out);
    int64_t CountImages(unsigned int dataId, const std::string& device);
    // The newest image of every (data id, device) pair.
    std::vector<ImageRow> LatestOfEach();
    std::vector<ImageRow> AllImages();

private:
    bool Exec(const char* sql, std::string& error);
    std::vector<ImageRow> Query(const char* sql);

    std::mutex mutex_;
    sqlite3* db_ = nullptr;
    sqlite3_stmt* insertImage_ = nullptr;
    sqlite3_stmt* insertAlarm_ = nullptr;
    sqlite3_stmt* latest_ = nullptr;
    sqlite3_stmt* count_ = nullptr;
};

}  // namespace history
