// The history as a listener of the site model: rows follow the model's one
// change rule (a DC bus that moves by its 0.1 V default is kept, not only
// every few minutes), alarms go with their cycle, the newest image of every
// child is kept at the stop, and writes that fail are retried, then counted.
// Rows wait for the commit interval; an alarm and a hook that asks do not.
// Images are stored deflated; a file of the schema before reads as it was.
#include <gtest/gtest.h>

#include <sqlite3.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "ScratchDir.h"
#include "SiteImages.h"
#include "Zone.h"
#include "hex_text.h"
#include "history_recorder.h"

using namespace testing_support;

namespace {
rule_value Alarm(bool active) { return Rule("DC_0", "直流屏1", active, 21, "01001", "直流电压告警"); }

struct Rig {
    history::HistoryStore store;
    site::SiteModel model{"north"};
    std::unique_ptr<history::HistoryRecorder> recorder;

    explicit Rig(bool changesOnly, int commitCycles = 1) {
        std::string error;
        EXPECT_TRUE(store.Open(":memory:", error)) << error;
        history::RecorderSettings settings;
        settings.changesOnly = changesOnly;
        settings.commitCycles = commitCycles;
        recorder = std::make_unique<history::HistoryRecorder>(store, model, settings);
        model.AddListener(recorder.get());
    }
    // After the hooks are added.
    void Start() { recorder->Start(); }
    void Cycle(float volts, std::vector<rule_value> rules = {}) {
        const auto dc = DcImage(21, volts, 10.0f);
        model.OnRecord(21, "trm27k-dc", 5176, dc.data(), dc.size(), "2026-12-09T10:00:00");
        model.OnRules(rules, "2026-12-09T10:00:00", "trm27k-dc");
        model.OnCycleEnd(0.1, "2026-12-09T10:00:00");
    }
};
}  // namespace

TEST(HistoryRecorder, RowsFollowTheModelsChangeRuleAndAlarmsTheirCycle) {
    Rig rig(true);
    rig.Start();
    rig.Cycle(53.50f);                 // the first image: a row
    rig.Cycle(53.55f);                 // 0.05 V: none
    rig.Cycle(53.62f);                 // 0.12 V from the last row: a row
    rig.Cycle(53.62f, {Alarm(true)});  // unchanged, but the alarm is kept and active
    rig.Cycle(53.63f);                 // the newest image, kept at the stop
    rig.recorder->Stop();
    EXPECT_EQ(3, rig.store.CountImages(21, "trm27k-dc"));
    history::ImageRow newest;
    ASSERT_TRUE(rig.store.LatestImage(21, "trm27k-dc", newest));
    EXPECT_EQ(DcImage(21, 53.63f, 10.0f), newest.image);
    const auto active = rig.store.ActiveAlarms();
    ASSERT_EQ(1u, active.size());
    EXPECT_EQ("trm27k-dc", active[0].device);
    EXPECT_EQ(0u, rig.recorder->Lost());
}

// The events the recorder reports from its thread, waited for with a bound.
struct Heard : site::SiteListener {
    std::mutex mutex;
    std::condition_variable told;
    std::vector<std::string> events;
    void OnEvent(const char* kind, const Json::Value& v) override {
        std::lock_guard<std::mutex> lock(mutex);
        events.push_back(std::string(kind) + ":" + v["state"].asString());
        told.notify_all();
    }
    bool WaitFor(const std::string& event) {
        std::unique_lock<std::mutex> lock(mutex);
        return told.wait_for(lock, std::chrono::seconds(30), [&] {
            return std::find(events.begin(), events.end(), event) != events.end();
        });
    }
};

TEST(HistoryRecorder, AFailedWriteIsRetriedAndNothingIsReportedSaved) {
    Rig rig(false);
    Heard heard;
    rig.model.AddListener(&heard);
    std::atomic<bool> full{true};
    rig.store.AddCommitHook([&full](sqlite3*, uint64_t, std::string& e) {
        if (full) e = "database or disk is full";
        return !full;
    });
    rig.Start();
    rig.Cycle(53.5f);
    ASSERT_TRUE(heard.WaitFor("storage:failed"));
    EXPECT_EQ(0, rig.store.CountImages(21, "trm27k-dc"));
    full = false;
    rig.Cycle(53.6f);  // the next cycle takes the pending row along
    ASSERT_TRUE(heard.WaitFor("storage:resumed"));
    EXPECT_EQ(2, rig.store.CountImages(21, "trm27k-dc"));
    rig.recorder->Stop();
    EXPECT_EQ(0u, rig.recorder->Lost());
}

// A writer that cannot keep up holds the cycle ends back once it is the
// commit interval and kMaxLagCycles behind: nothing is dropped, the wait is
// told, and a kill would lose no more than those cycles.
TEST(HistoryRecorder, AWriterFarBehindHoldsTheCycleEndsBack) {
    Rig rig(false);
    Heard heard;
    rig.model.AddListener(&heard);
    rig.store.AddCommitHook([](sqlite3*, uint64_t, std::string&) {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        return true;
    });
    rig.Start();
    constexpr int kCycles = 6 * history::HistoryRecorder::kMaxLagCycles;
    for (int k = 0; k < kCycles; ++k) rig.Cycle(53.5f + 0.01f * static_cast<float>(k));
    ASSERT_TRUE(heard.WaitFor("storage:waiting"));
    rig.recorder->Stop();
    EXPECT_EQ(kCycles, rig.store.CountImages(21, "trm27k-dc"));
    EXPECT_EQ(0u, rig.recorder->Lost());
}

namespace {
// The first column of the first row, or -1.
int64_t QueryInt(sqlite3* db, const char* sql) {
    sqlite3_stmt* s = nullptr;
    sqlite3_prepare_v2(db, sql, -1, &s, nullptr);
    const int64_t value = sqlite3_step(s) == SQLITE_ROW ? sqlite3_column_int64(s, 0) : -1;
    sqlite3_finalize(s);
    return value;
}

// What each transaction held when the commit hooks ran: the newest cycle and
// the rows in the history by then.
struct Transactions {
    std::mutex mutex;
    std::condition_variable told;
    std::vector<std::pair<uint64_t, int64_t>> seen;  // seq, history rows

    void Hook(history::HistoryStore& store) {
        store.AddCommitHook([this](sqlite3* db, uint64_t seq, std::string&) {
            const int64_t rows = QueryInt(db, "SELECT count(*) FROM history");
            std::lock_guard<std::mutex> lock(mutex);
            seen.emplace_back(seq, rows);
            told.notify_all();
            return true;
        });
    }
    // Waits for a transaction of cycle `seq` and returns the first one.
    std::pair<uint64_t, int64_t> WaitForSeq(uint64_t seq) {
        std::unique_lock<std::mutex> lock(mutex);
        const auto of = [&] { return std::find_if(seen.begin(), seen.end(), [&](const auto& t) { return t.first >= seq; }); };
        told.wait_for(lock, std::chrono::seconds(30), [&] { return of() != seen.end(); });
        return of() == seen.end() ? std::make_pair(uint64_t{0}, int64_t{-1}) : *of();
    }
    // Waits until a transaction held `rows` history rows.
    bool WaitForRows(int64_t rows) {
        std::unique_lock<std::mutex> lock(mutex);
        return told.wait_for(lock, std::chrono::seconds(30), [&] {
            return std::any_of(seen.begin(), seen.end(), [&](const auto& t) { return t.second == rows; });
        });
    }
};
}  // namespace

// Grouped commits: the rows of changed cycles wait for the interval; a hook
// that asks (the MQTT outbox) gets a transaction at once, without them; an
// alarm change commits its cycle and the rows before it at once.
TEST(HistoryRecorder, RowsWaitForTheIntervalButAlarmsAndAskingHooksDoNot) {
    Rig rig(true, 100);
    Transactions transactions;
    transactions.Hook(rig.store);
    rig.Start();
    rig.Cycle(53.5f);
    rig.Cycle(53.7f);
    rig.recorder->WriteSoon(2);
    EXPECT_EQ(std::make_pair(uint64_t{2}, int64_t{0}), transactions.WaitForSeq(2))
        << "the hook's statements up to the newest cycle, the rows still waiting";
    // The hook's own listener call comes before the recorder's: the write
    // it asks for reaches its cycle although the recorder has not seen it.
    rig.recorder->WriteSoon(3);
    EXPECT_EQ(std::make_pair(uint64_t{3}, int64_t{0}), transactions.WaitForSeq(3));
    rig.Cycle(53.9f, {Alarm(true)});
    EXPECT_TRUE(transactions.WaitForRows(3)) << "the alarm's cycle and the rows before it at once";
    EXPECT_EQ(1u, rig.store.ActiveAlarms().size());
    rig.recorder->Stop();
    EXPECT_EQ(3, rig.store.CountImages(21, "trm27k-dc"));

    // A long interval with every row: more rows wait than a failing disk may
    // hold back, and none is lost.
    Rig all(false, 1000);
    all.Start();
    const auto ac = AcImage(11, 1, 230.0f, 5.0f);
    for (int k = 0; k < 700; ++k) {
        for (unsigned int id : {11u, 12u}) all.model.OnRecord(id, "trm27k-ac", 5175, ac.data(), ac.size(), "2026-12-09T10:00:00");
        all.Cycle(53.5f);
    }
    all.recorder->Stop();
    EXPECT_EQ(700, all.store.CountImages(12, "trm27k-ac"));
    EXPECT_EQ(0u, all.recorder->Lost());
}

// Rows are stored deflated and read back whole; a file of schema 3 (whole
// images, UTC times) is brought up to date without touching its rows.
TEST(HistoryStore, ImagesAreDeflatedAndOlderFilesReadAsTheyWere) {
    const ScratchDir scratch("history-packing");
    const std::string path = scratch.Path() + "/h.db";
    const ZoneScope utc("UTC0");
    const auto old = DcImage(21, 53.5f, 10.0f);
    std::string error;
    {
        history::HistoryStore made;
        ASSERT_TRUE(made.Open(path, error)) << error;
        const std::string asSchema3 =
            "ALTER TABLE history DROP COLUMN image_length; PRAGMA user_version = 3;"
            "INSERT INTO history VALUES (1, '2026-12-09T09:00:00Z', 21, 'trm27k-dc', 5176, X'" +
            site::HexText(old.data(), old.size()) + "')";
        ASSERT_TRUE(made.Exec(asSchema3.c_str(), error)) << error;
    }
    history::HistoryStore store;
    ASSERT_TRUE(store.Open(path, error)) << error;
    history::Batch batch;
    batch.images.push_back({0, "2026-12-09T09:01:00+00:00", 21, "trm27k-dc", 5176, DcImage(21, 53.6f, 10.0f)});
    ASSERT_TRUE(store.Write(batch, error)) << error;
    std::vector<history::ImageRow> rows;
    ASSERT_TRUE(store.ForEachImage([&rows](const history::ImageRow& r) { rows.push_back(r); }, error)) << error;
    ASSERT_EQ(2u, rows.size());
    EXPECT_EQ(old, rows[0].image);
    EXPECT_EQ("2026-12-09T09:00:00+00:00", rows[0].time) << "a UTC time is not converted again";
    EXPECT_EQ(batch.images[0].image, rows[1].image);
    sqlite3* db = nullptr;
    ASSERT_EQ(SQLITE_OK, sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr));
    EXPECT_EQ(1, QueryInt(db, "SELECT length(image) < 150 AND image_length = 450 FROM history WHERE id = 2"))
        << "a 450-byte DC image, mostly zero, deflated";
    sqlite3_close(db);
}
