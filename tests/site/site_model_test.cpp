// The site model: values by field name with the not-provided rules, the change
// indication, alarm raises and clears with their times, sequence numbers and
// what listeners are told.
#include <gtest/gtest.h>

#include "SiteImages.h"
#include "tele_trm27k_rc.h"
#include "record_values.h"
#include "site_model.h"

using namespace testing_support;

namespace {
struct Recorder : site::SiteListener {
    std::vector<std::string> events;
    std::vector<uint64_t> cycles;
    std::vector<site::AlarmEvent> alarms;
    int availability = 0;
    void OnCycle(const site::SnapshotPtr& s) override { cycles.push_back(s->seq); }
    void OnAlarms(const std::vector<site::AlarmEvent>& e, const site::SnapshotPtr&) override {
        alarms.insert(alarms.end(), e.begin(), e.end());
    }
    void OnAvailability(const site::AvailabilityChange&, const site::SnapshotPtr&) override { ++availability; }
    void OnEvent(const char* kind, const Json::Value&) override { events.push_back(kind); }
};

Json::Value Fields(std::initializer_list<std::pair<const char*, const char*>> pairs) {
    Json::Value v(Json::objectValue);
    for (const auto& [name, value] : pairs) v[name] = value;
    return v;
}
}  // namespace

TEST(RecordValues, NotProvidedValuesAreLeftOutWithUnitsBeside) {
    auto image = AcImage(11, 2, 230.0f, 5.0f);
    Put(image, offsetof(tele_c_trm27k_ac, ib), kFillTenth);
    const size_t secondChannel = sizeof(tele_c_trm27k_ac) + sizeof(tele_c_trm27k_ac_channel);
    Put(image, secondChannel + offsetof(tele_c_trm27k_ac_channel, f), {0, 0, 0, 0});  // the parser's fill
    Put(image, sizeof(tele_c_trm27k_ac) + offsetof(tele_c_trm27k_ac_channel, analog_user) + 8, kFillTenth);
    Json::Value v;
    ASSERT_TRUE(site::RecordJson(*site::LayoutOf(5175), image.data(), image.size(), v));
    EXPECT_FLOAT_EQ(5.0f, v["ia"].asFloat());
    EXPECT_FALSE(v.isMember("ib"));
    EXPECT_TRUE(v["channels"][0].isMember("f"));
    EXPECT_FALSE(v["channels"][1].isMember("f"));
    EXPECT_TRUE(v["channels"][0]["analog_user"][2].isNull());  // positions kept in arrays
    EXPECT_EQ("V", v["units"]["a"].asString());
    EXPECT_EQ("Hz", v["units"]["f"].asString());
    EXPECT_EQ("A", v["units"]["ia"].asString());
    // Four zero bytes are an ordinary 0.0, and an image of the wrong length yields nothing.
    image.resize(image.size() - 1);
    EXPECT_FALSE(site::RecordJson(*site::LayoutOf(5175), image.data(), image.size(), v));
    auto dc = DcImage(21, 0.0f, 0.0f);
    // Battery values count only up to dc_m and dc_n; a count past the six
    // slots stored none of them (they hold an earlier reply's).
    const float batteries[3] = {-12.5f, 3.0f, 9.0f};
    std::memcpy(dc.data() + offsetof(tele_c_trm27k_dc, m_values), batteries, sizeof batteries);
    std::memcpy(dc.data() + offsetof(tele_c_trm27k_dc, n_values), batteries, sizeof batteries);
    dc[offsetof(tele_c_trm27k_dc, dc_m)] = 2;
    dc[offsetof(tele_c_trm27k_dc, dc_n)] = 7;
    ASSERT_TRUE(site::RecordJson(*site::LayoutOf(5176), dc.data(), dc.size(), v));
    EXPECT_EQ(0.0, v["v"].asDouble());
    EXPECT_FLOAT_EQ(-12.5f, v["m_values"][0].asFloat());
    EXPECT_TRUE(v["m_values"][2].isNull());
    EXPECT_TRUE(v["n_values"][0].isNull());
    // The rectifier group and module values keep the marker as received.
    tele_c_trm27k_rc rc{};
    rc.channel_count = 1;
    std::vector<uint8_t> rcImage(sizeof rc + sizeof(tele_c_trm27k_rc_channel));
    std::memcpy(rcImage.data(), &rc, sizeof rc);
    Put(rcImage, offsetof(tele_c_trm27k_rc, group_value), kMarker);
    Put(rcImage, sizeof rc + offsetof(tele_c_trm27k_rc_channel, module_value), kMarker);
    ASSERT_TRUE(site::RecordJson(*site::LayoutOf(5177), rcImage.data(), rcImage.size(), v));
    EXPECT_FALSE(v.isMember("group_value"));
    EXPECT_FALSE(v["modules"][0].isMember("module_value"));
}

TEST(SiteModel, ChangeIndicationFollowsTheThresholds) {
    site::SiteModel model("north");
    Json::Value entry;
    entry["appSetting"]["diff_v"] = "5";
    model.SetThresholds(11, 5175, site::ThresholdsOf(5175, entry));
    const auto feed = [&](float volts, float amps) {
        const auto image = AcImage(11, 3, volts, amps);
        model.OnRecord(11, "trm27k-ac", 5175, image.data(), image.size(), "t");
        model.OnCycleEnd(0.1, "t");
        return model.Current()->Child(11, 5175)->changed;
    };
    EXPECT_TRUE(feed(230, 5));    // the first image
    EXPECT_FALSE(feed(234, 5));   // 4 V < diff_v 5
    EXPECT_TRUE(feed(239, 5));    // 5 V
    EXPECT_FALSE(feed(239, 24));  // 19 A < the default diff_i 20
    EXPECT_TRUE(feed(239, 44));
    const auto dcFeed = [&](float volts) {  // DC: diff_v 0.1 by default
        const auto image = DcImage(21, volts, 1);
        model.OnRecord(21, "trm27k-dc", 5176, image.data(), image.size(), "t");
        model.OnCycleEnd(0.1, "t");
        return model.Current()->Child(21, 5176)->changed;
    };
    dcFeed(53.5f);
    EXPECT_FALSE(dcFeed(53.55f));
    EXPECT_TRUE(dcFeed(53.7f));
}

TEST(SiteModel, AlarmsCarryTheirRaisedTimeAndListenersSeeEveryChange) {
    site::SiteModel model("north");
    Recorder rec;
    model.AddListener(&rec);
    model.StartSequenceAt(41);
    const auto image = AcImage(11, 1, 230, 5);
    model.OnRecord(11, "trm27k-ac", 5175, image.data(), image.size(), "2026-12-09T10:00:00");
    // A rule seen first and inactive changes nothing; two rules share a key.
    EXPECT_TRUE(model.OnRules({Rule("AC_4", "交流屏1输入", false)}, "2026-12-09T10:00:00").empty());
    model.OnCycleEnd(1.5, "2026-12-09T10:00:00");
    EXPECT_EQ(42u, model.Current()->seq);
    EXPECT_EQ(42u, model.Current()->Child(11, 5175)->seq);
    auto raised = model.OnRules({Rule("AC_4", "交流屏1输入", true), Rule("AC_4", "交流屏2输入", true)},
                                "2026-12-09T10:00:02");
    ASSERT_EQ(2u, raised.size());
    EXPECT_EQ(42u, raised[0].seq);
    const auto snapshot = model.Current();  // readers keep theirs while the model moves on
    auto cleared = model.OnRules({Rule("AC_4", "交流屏1输入", false), Rule("AC_4", "交流屏2输入", true)},
                                 "2026-12-09T10:00:09");
    ASSERT_EQ(1u, cleared.size());
    EXPECT_FALSE(cleared[0].raised);
    EXPECT_EQ("2026-12-09T10:00:02", cleared[0].raisedTime);
    EXPECT_EQ("2026-12-09T10:00:09", cleared[0].clearedTime);
    EXPECT_EQ(2, std::count_if(snapshot->rules.begin(), snapshot->rules.end(),
                               [](const site::RuleState& r) { return r.rule.active != 0; }));
    EXPECT_EQ(3u, rec.alarms.size());
    EXPECT_EQ(std::vector<uint64_t>{42}, rec.cycles);
    model.SetLink(true);
    model.SetLink(true);  // no change, no call
    model.SetStalled(true);
    EXPECT_EQ(2, rec.availability);
    EXPECT_FALSE(model.Current()->Available());
    model.Report("timeout", Json::Value(Json::objectValue));
    model.OnCycleEnd(70, "t");
    const auto& h = model.Current()->cycleSeconds;
    EXPECT_EQ(1u, model.Current()->counters.timeouts);
    EXPECT_EQ(2u, h.count);
    EXPECT_EQ(1u, h.counts[5]);  // 1.5 s in the bucket up to 2.5 s; 70 s only in +Inf
}

// Each power system's link and stall are its own: the model tells which of
// them flipped (a first state only when it is a fault), and the site stays
// available while one system is.
TEST(SiteModel, PowerSystemsAreAvailableEachOnTheirOwn) {
    struct Changes : site::SiteListener {
        std::vector<std::string> told;
        void OnAvailability(const site::AvailabilityChange& c, const site::SnapshotPtr&) override {
            told.push_back(c.device + (c.linkChanged ? " link" : "") + (c.stallChanged ? " stall" : "") +
                           (c.availabilityChanged ? (c.Available() ? " up" : " down") : ""));
        }
    } changes;
    site::SiteModel model("s");
    for (const char* name : {"a", "b"}) {
        site::DeviceState d;
        d.name = name;
        model.AddDevice(d);
    }
    model.AddListener(&changes);
    model.SetLink(true);                       // the start: nothing to tell
    model.SetSystemLink("b", false, Fields({{"state", "silent"}}));
    model.SetSystemStalled("b", true);               // no change of availability
    model.SetSystemStalled("a", true);
    model.SetSystemStalled("a", false);
    model.SetSystemsLink({"a", "b"}, true, Fields({{"state", "up"}}));
    EXPECT_EQ((std::vector<std::string>{"a", "b", "b link down", "b stall", "a stall down", "a stall up", "b link"}),
              changes.told);
    const auto s = model.Current();
    EXPECT_TRUE(s->linkUp);
    EXPECT_FALSE(s->Device("a")->stalled);
    EXPECT_TRUE(s->Device("b")->stalled);
    EXPECT_TRUE(s->Available()) << "one stalled system leaves the site up";
    model.SetSystemStalled("a", true);
    EXPECT_FALSE(model.Current()->Available());
    EXPECT_TRUE(model.Current()->stalled);
}

// Every counter moves exactly when its event is reported, and only then.
TEST(SiteModel, EachCounterMovesWithItsEventOnly) {
    using C = site::Counters;
    struct Row {
        const char* kind;
        Json::Value fields;
        uint64_t C::*counter;  // nullptr: no counter moves
    };
    const Row rows[] = {
        {"command", Fields({{"info", "FF"}}), &C::exchanges},
        {"timeout", Fields({{"step", "3"}}), &C::timeouts},
        {"frame_error", Fields({{"reason", "no complete frame"}}), &C::frameErrors},
        {"frame_error", Fields({{"reason", "checksum"}}), &C::frameErrors},
        {"storage", Fields({{"target", "history"}, {"state", "failed"}}), &C::storageFailures},
        {"storage", Fields({{"target", "events"}, {"state", "failed"}}), &C::storageFailures},
        {"storage", Fields({{"target", "outbox"}, {"state", "failed"}}), &C::storageFailures},
        {"storage", Fields({{"target", "history"}, {"state", "resumed"}}), nullptr},
        {"history", Fields({{"saved", "t"}}), nullptr},
        {"log", Fields({{"text", "x"}}), nullptr},
        {"alarm_command", Fields({{"state", "failed"}, {"status", "3"}}), &C::alarmCommandFailures},
        {"alarm_command", Fields({{"state", "killed"}}), &C::alarmCommandFailures},
        {"alarm_command", Fields({{"state", "dropped"}}), &C::alarmCommandFailures},
        {"alarm_command", Fields({{"state", "done"}}), nullptr},
    };
    const uint64_t C::*all[] = {&C::cycles, &C::exchanges, &C::timeouts, &C::frameErrors,
                                &C::reconnects, &C::storageFailures, &C::alarmCommandFailures};
    for (const Row& row : rows) {
        site::SiteModel model("north");
        Recorder rec;
        model.AddListener(&rec);
        model.Report(row.kind, row.fields);
        model.OnCycleEnd(0.1, "t");  // publishes the counters
        const C& c = model.Current()->counters;
        for (const auto member : all) {
            const uint64_t expected = member == row.counter || member == &C::cycles ? 1 : 0;
            EXPECT_EQ(expected, c.*member) << row.kind << " " << row.fields.toStyledString();
        }
        EXPECT_EQ((std::vector<std::string>{row.kind, "cycle"}), rec.events);
    }
    // A reopened port names its device and counts as a reconnect; a device
    // that answers again after a silence does not.
    site::SiteModel model("north");
    model.SetLink(false, Fields({{"state", "down"}, {"reason", "hang-up"}}));
    model.SetLink(true, Fields({{"state", "up"}, {"device", "/dev/ttyUSB1"}}));
    model.SetLink(false, Fields({{"state", "silent"}}));
    model.SetLink(true, Fields({{"state", "up"}, {"reason", "the device answers again"}}));
    model.OnCycleEnd(0.1, "t");
    EXPECT_EQ(1u, model.Current()->counters.reconnects);
}

TEST(SiteModel, TheDeviceModelIsDecidedOnceFromTheModelCheck) {
    site::SiteModel model("north");
    EXPECT_EQ("", model.Current()->model) << "unknown before the first cycle";
    model.OnCycleEnd(0.1, "t");
    EXPECT_EQ("TRM27K", model.Current()->model) << "a cycle without a mismatch report";
    rule_value check = Rule("device_model", "本驱动类型:trm27k 检测型号:XYZ-9 \0\0", true, 1);
    check.detail = std::string("本驱动类型:trm27k 检测型号:XYZ-9 ") + std::string(2, '\0');
    model.OnRules({check}, "t", "trm27k");
    EXPECT_EQ("XYZ-9", model.Current()->model);
}

TEST(SiteModel, ValuesGoStaleAtSixtyOneSecondsAsTheChildrenDo) {
    site::ChildState child;
    child.epochMs = 1'000'000;
    struct Case { int64_t afterMs; int64_t age; bool stale; };
    for (const Case& c : {Case{0, 0, false}, Case{60'999, 60, false}, Case{61'000, 61, true},
                          Case{-5'000, -5, false}, Case{-1, -1, false}}) {
        EXPECT_EQ(c.age, site::AgeSeconds(child, child.epochMs + c.afterMs)) << c.afterMs;
        EXPECT_EQ(c.stale, site::IsStale(child, child.epochMs + c.afterMs)) << c.afterMs;
    }
}
