// The poll's watch: a silent device and a poll that makes no progress are
// told once, repeated only as often as an operator wants to read it, and
// cleared when the device answers or a cycle ends.
#include <gtest/gtest.h>

#include <fstream>

#include "JsonText.h"
#include "ScratchDir.h"
#include "poll_loop.h"

using namespace testing_support;
using monitor::PollWatch;
using std::chrono::milliseconds;
using std::chrono::minutes;
using std::chrono::seconds;

namespace {
// The events the model is told, as its listeners hear them.
struct Heard : site::SiteListener {
    std::vector<std::pair<std::string, Json::Value>> events;
    void OnEvent(const char* kind, const Json::Value& fields) override { events.emplace_back(kind, fields); }
};

struct WatchRig {
    site::SiteModel model{"watch"};
    Heard heard;
    monitor::MonitorController controller{model, true};
    monitor::PollStats stats;
    PollWatch watch{controller, stats, 7, seconds(2)};
    PollWatch::Clock::time_point t0 = PollWatch::Clock::now();

    WatchRig() {
        model.AddListener(&heard);
        watch.OnLinkUp(t0);
    }
    std::vector<Json::Value> Events(const std::string& kind) {
        std::vector<Json::Value> out;
        for (const auto& [k, v] : heard.events) {
            if (k == kind) out.push_back(v);
        }
        return out;
    }
};
}  // namespace

TEST(PollWatch, ASilentDeviceIsToldAfterAMinuteAtMostEveryTenMinutes) {
    WatchRig rig;
    rig.watch.Check(rig.t0 + seconds(59), 0);
    EXPECT_TRUE(rig.Events("link").empty());
    rig.watch.Check(rig.t0 + seconds(61), 0);
    rig.watch.Check(rig.t0 + minutes(5), 0);
    ASSERT_EQ(1u, rig.Events("link").size());
    EXPECT_EQ("silent", rig.Events("link")[0]["state"].asString());
    EXPECT_EQ(7, rig.Events("link")[0]["address"].asInt());
    EXPECT_EQ(monitor::LinkState::Silent, rig.stats.link.load());
    EXPECT_FALSE(rig.model.Current()->linkUp) << "outputs see a silent device as unavailable";
    rig.watch.Check(rig.t0 + seconds(61) + minutes(10), 0);
    EXPECT_EQ(2u, rig.Events("link").size());
    // An answer ends the silence; the next one is told a minute later again.
    rig.watch.OnReply(rig.t0 + minutes(12));
    EXPECT_EQ("up", rig.Events("link").back()["state"].asString());
    EXPECT_EQ(monitor::LinkState::Up, rig.stats.link.load());
    EXPECT_TRUE(rig.model.Current()->linkUp);
    rig.watch.Check(rig.t0 + minutes(12) + seconds(30), 0);
    EXPECT_EQ(3u, rig.Events("link").size());
}

TEST(PollWatch, RepliesWithoutACycleAreAStallToldOnceWithTheLastProtocolLine) {
    WatchRig rig;
    rig.controller.NoteLogLine("PMBusPower:ProcotolError 1 read ac_number is 2, configured ac_number is 1");
    // No reply at all is silence, not a stall.
    rig.watch.Check(rig.t0 + seconds(11), 0);
    EXPECT_TRUE(rig.Events("stalled").empty());
    rig.watch.OnReply(rig.t0 + seconds(12));
    rig.watch.Check(rig.t0 + seconds(12), 0);
    rig.watch.Check(rig.t0 + seconds(13), 0);
    ASSERT_EQ(1u, rig.Events("stalled").size());
    const Json::Value stalled = rig.Events("stalled")[0];
    EXPECT_EQ("stalled", stalled["state"].asString());
    EXPECT_EQ(0, stalled["step"].asInt());
    EXPECT_NE(std::string::npos, stalled["line"].asString().find("ac_number is 2"));
    EXPECT_TRUE(rig.stats.stalled);
    EXPECT_FALSE(rig.model.Current()->Available());
    rig.watch.OnCycle(rig.t0 + seconds(14));
    EXPECT_EQ("cleared", rig.Events("stalled").back()["state"].asString());
    EXPECT_FALSE(rig.stats.stalled);
    EXPECT_FALSE(rig.model.Current()->stalled);
    // Five cycle times are measured from the cycles the poll really makes.
    rig.watch.OnCycle(rig.t0 + seconds(20));
    rig.watch.OnReply(rig.t0 + seconds(21));
    rig.watch.Check(rig.t0 + seconds(49), 0);
    EXPECT_EQ(2u, rig.Events("stalled").size());
    rig.watch.Check(rig.t0 + seconds(51), 0);
    EXPECT_EQ(3u, rig.Events("stalled").size());
}
