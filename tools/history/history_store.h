#pragma once
// The device history in SQLite: saved record images, alarm events, the
// alarms active at the last write, and when each child's newest image was
// last confirmed by a poll cycle.
//
// A writer hands over a Batch; Write puts it, the retention pruning and every
// commit hook into one transaction, so after a crash the database holds each
// batch whole or not at all. The journal is a write-ahead log with
// synchronous=NORMAL: a power cut can lose the last batches written since the
// last checkpoint sync, never corrupt the file.
//
// The file carries its schema: application_id "TRMK" and user_version
// kSchemaVersion. Open refuses a file that is not a trm27k history or was
// written by a newer schema, and leaves it untouched; the layouts of earlier
// monitors are brought up to date in place. Times are kept in UTC (schema 3;
// earlier files held local times, converted once as local time on upgrade)
// and handed in and out as the monitor shows them, local with an offset.
// Images are stored deflated since schema 4 (image_packing.h).
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

struct sqlite3;
struct sqlite3_stmt;

namespace history {

constexpr int kSchemaVersion = 4;

// Another connection to the file (the MQTT outbox's) holds its write lock
// for a short transaction: try again every millisecond for up to
// `timeoutMs`, not on SQLite's own growing steps, which sleep up to 100 ms
// and so hold a message up long after the lock came free.
void RetryWhileBusy(sqlite3* db, int timeoutMs);

struct ImageRow {
    int64_t id = 0;
    std::string time;  // time of the cycle, "2026-12-08T16:05:09+01:00"
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

// An alarm active when its batch was written ("state" unused).
using ActiveAlarm = AlarmRow;

// A child whose newest stored image still held at `time`.
struct SeenRow {
    unsigned int dataId = 0;
    std::string device;
    std::string time;
};

// What one transaction writes.
struct Batch {
    std::vector<ImageRow> images;
    std::vector<AlarmRow> alarms;
    bool replaceActive = false;  // true: `active` replaces the stored active alarms
    std::vector<ActiveAlarm> active;
    std::vector<SeenRow> seen;
    std::string pruneBefore;  // rows older than this go, a few hundred per write; empty: none
    uint64_t seq = 0;         // the newest cycle the batch holds (for the commit hooks)
    bool durable = false;     // synced to the card before Write returns (alarm changes)
};

// The image of a row from its blob `column` and the image_length column after
// it (see image_packing.h); empty when the stored blob is damaged.
void ReadImage(sqlite3_stmt* s, int column, std::vector<uint8_t>& out);

// Record type of a device type's data image ("trm27k-ac" 5175, -dc 5176, -rc 5177).
int RecordTypeOf(const std::string& device);

class HistoryStore {
public:
    HistoryStore() = default;
    ~HistoryStore();
    HistoryStore(const HistoryStore&) = delete;
    HistoryStore& operator=(const HistoryStore&) = delete;

    // Opens or creates the database for writing; ":memory:" keeps it in
    // memory. The error names the file and the reason.
    bool Open(const std::string& path, std::string& error);
    // Opens an existing database for reading only: nothing is created or
    // changed, and a read-only file or folder is fine.
    bool OpenReadOnly(const std::string& path, std::string& error);
    bool IsOpen() const { return db_ != nullptr; }

    // Writes `batch` in one transaction; false with SQLite's reason, and
    // nothing of the batch written. Other transactions reach the card when
    // the kernel writes them back (synchronous=NORMAL), a durable one before
    // this returns (synchronous=FULL for it).
    bool Write(const Batch& batch, std::string& error);

    // Statements of another output that must commit with the history (an
    // outbox): `hook` runs inside every Write's transaction after the batch,
    // with the batch's newest cycle; false with a reason rolls the whole
    // transaction back. `after` is told
    // once the transaction ended, whether it was committed. Add hooks after
    // Open and before the first Write; create the hook's tables with Exec.
    using CommitHook = std::function<bool(sqlite3* db, uint64_t seq, std::string& error)>;
    using AfterCommit = std::function<void(bool committed)>;
    void AddCommitHook(CommitHook hook, AfterCommit after = {});
    bool Exec(const char* sql, std::string& error);

    // The newest image of one device; `out.time` is the later of its own
    // time and the time a cycle last confirmed it.
    bool LatestImage(unsigned int dataId, const std::string& device, ImageRow& out);
    std::vector<ActiveAlarm> ActiveAlarms();
    int64_t CountImages(unsigned int dataId, const std::string& device);
    // The newest image of every (data id, device) pair.
    std::vector<ImageRow> LatestOfEach();
    // Every image, oldest first, one at a time; false with the reason when
    // reading fails part way.
    bool ForEachImage(const std::function<void(const ImageRow&)>& each, std::string& error);

private:
    int Identify(const std::string& path, std::string& error);
    bool Migrate(int from, std::string& error);
    bool Prepare(std::string& error);
    bool WriteBatch(const Batch& batch, std::string& error);
    bool RestoreSync(const Batch& batch, bool result);
    std::string ImageLengthColumn(const char* table = "") const;
    bool Step(sqlite3_stmt* s, std::string& error);
    bool EachRow(const char* sql, const std::function<void(const ImageRow&)>& each,
                 std::string& error);

    std::mutex mutex_;
    sqlite3* db_ = nullptr;
    bool readOnly_ = false;
    int schema_ = 0;  // of the open file; 0: empty
    std::vector<CommitHook> hooks_;
    std::vector<AfterCommit> afterHooks_;
    sqlite3_stmt* insertImage_ = nullptr;
    sqlite3_stmt* insertAlarm_ = nullptr;
    sqlite3_stmt* insertActive_ = nullptr;
    sqlite3_stmt* upsertSeen_ = nullptr;
    sqlite3_stmt* pruneImages_ = nullptr;
    sqlite3_stmt* pruneAlarms_ = nullptr;
    sqlite3_stmt* latest_ = nullptr;
    sqlite3_stmt* count_ = nullptr;
};

}  // namespace history
