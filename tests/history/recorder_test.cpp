// The history as a listener of the site model: rows follow the model's one
// change rule (a DC bus that moves by its 0.1 V default is kept, not only
// every few minutes), alarms go with their cycle, the newest image of every
// child is kept at the stop, and writes that fail are retried, then counted.
#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "SiteImages.h"
#include "history_recorder.h"

using namespace testing_support;

namespace {
rule_value Alarm(bool active) { return Rule("DC_0", "直流屏1", active, 21, "01001", "直流电压告警"); }

struct Rig {
    history::HistoryStore store;
    site::SiteModel model{"north"};
    std::unique_ptr<history::HistoryRecorder> recorder;

    explicit Rig(bool changesOnly) {
        std::string error;
        EXPECT_TRUE(store.Open(":memory:", error)) << error;
        history::RecorderSettings settings;
        settings.changesOnly = changesOnly;
        recorder = std::make_unique<history::HistoryRecorder>(store, model, settings);
        model.AddListener(recorder.get());
        recorder->Start();
    }
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
    constexpr int kCycles = 6 * history::HistoryRecorder::kMaxLagCycles;
    for (int k = 0; k < kCycles; ++k) rig.Cycle(53.5f + 0.01f * static_cast<float>(k));
    ASSERT_TRUE(heard.WaitFor("storage:waiting"));
    rig.recorder->Stop();
    EXPECT_EQ(kCycles, rig.store.CountImages(21, "trm27k-dc"));
    EXPECT_EQ(0u, rig.recorder->Lost());
}
