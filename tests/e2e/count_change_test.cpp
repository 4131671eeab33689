// Unit counts that change at the site, end to end: the monitor against the
// simulator over a pseudo-terminal, with the history of an earlier layout.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <thread>

#include "ProcessKit.h"

using namespace testing_support;

namespace {
const std::string kMonitor = TRM27K_MONITOR_PATH;
const std::string kSim = TRM27K_SIM_PATH;

// Image lengths: the AC screen with 3 channels, rectifiers with 4 or 3 modules.
constexpr unsigned kAcThree = 42 + 160 * 3;
constexpr unsigned kRcFour = 253 + 97 * 4;
constexpr unsigned kRcThree = 253 + 97 * 3;

int RunMonitor(const std::vector<std::string>& args, double seconds = 60) {
    Process p(args);
    return p.Wait(seconds);
}

std::vector<std::string> LogTexts(const std::vector<Json::Value>& events) {
    std::vector<std::string> texts;
    for (const auto& e : EventsOf(events, "log")) texts.push_back(e["text"].asString());
    return texts;
}

size_t CountContaining(const std::vector<std::string>& texts, const std::string& part) {
    size_t n = 0;
    for (const auto& t : texts) n += t.find(part) != std::string::npos ? 1 : 0;
    return n;
}

// The image lengths each (data id, record type) published, in order.
std::map<std::pair<unsigned, int>, std::vector<unsigned>> RecordLengths(
    const std::vector<Json::Value>& events) {
    std::map<std::pair<unsigned, int>, std::vector<unsigned>> out;
    for (const auto& r : EventsOf(events, "record")) {
        out[{r["data_id"].asUInt(), r["type"].asInt()}].push_back(r["length"].asUInt());
    }
    return out;
}

size_t CountRecords(const std::vector<Json::Value>& events, int type, unsigned length) {
    size_t n = 0;
    for (const auto& r : EventsOf(events, "record")) {
        n += r["type"].asInt() == type && r["length"].asUInt() == length ? 1 : 0;
    }
    return n;
}

// The events of a file that a running monitor appends to, taken in as they
// come: each line is parsed once however often the test looks, so waiting on
// a fast-growing file never falls behind it on a busy machine.
class EventTail {
public:
    explicit EventTail(std::string path) : path_(std::move(path)) {}

    // The events so far, with the lines completed since the last call.
    const std::vector<Json::Value>& Read() {
        std::ifstream in(path_, std::ios::binary);
        if (!in) return events_;
        in.seekg(static_cast<std::streamoff>(offset_));
        const std::string chunk((std::istreambuf_iterator<char>(in)),
                                std::istreambuf_iterator<char>());
        offset_ += chunk.size();
        partial_ += chunk;
        size_t start = 0;
        for (size_t end; (end = partial_.find('\n', start)) != std::string::npos; start = end + 1) {
            if (end > start) events_.push_back(ParseJson(partial_.substr(start, end - start)));
        }
        partial_.erase(0, start);
        return events_;
    }
    // Waits, up to `seconds`, until the events so far satisfy `done`.
    bool WaitFor(double seconds, const std::function<bool(const std::vector<Json::Value>&)>& done) {
        const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
        while (!done(Read())) {
            if (std::chrono::steady_clock::now() >= end) return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return true;
    }

private:
    std::string path_;
    size_t offset_ = 0;
    std::string partial_;
    std::vector<Json::Value> events_;
};

// Replaces a watched file whole, so the simulator never reads it half written.
void ReplaceFile(const std::string& path, const std::string& text) {
    WriteFile(path + ".new", text);
    std::rename((path + ".new").c_str(), path.c_str());
}
}  // namespace

// History written with 2 channels per AC screen and 3 modules, then a restart
// against a site with 3 channels and 4 modules: the restored counts give way
// to the live ones at the first analog reply and every cycle completes.
TEST(CountChange, RestoredCountsGiveWayToTheSite) {
    const ScratchDir scratch("count-restore");
    const std::string& dir = scratch.Path();
    WriteFile(dir + "/old.json", R"({"ac": [{"channels": [{}, {}]}, {"channels": [{}, {}]}],
                                     "rc": {"modules": [{}, {}, {}]}})");
    ASSERT_EQ(0, RunMonitor({kMonitor, "--fast", "--quiet", "--cycles", "2", "--history",
                             dir + "/h.db", "--sim-scenario", dir + "/old.json", "--events",
                             dir + "/old.jsonl"}));
    const auto old = RecordLengths(ReadEvents(dir + "/old.jsonl"));
    ASSERT_EQ((std::vector<unsigned>{42 + 160 * 2, 42 + 160 * 2}), old.at({11, 5175}));
    ASSERT_EQ((std::vector<unsigned>{kRcThree, kRcThree}), old.at({1, 5177}));

    ASSERT_EQ(0, RunMonitor({kMonitor, "--fast", "--quiet", "--cycles", "3", "--history",
                             dir + "/h.db", "--events", dir + "/new.jsonl"}));
    const auto events = ReadEvents(dir + "/new.jsonl");
    EXPECT_EQ(3u, EventsOf(events, "cycle").size());
    const auto lengths = RecordLengths(events);
    EXPECT_EQ(std::vector<unsigned>(3, kAcThree), lengths.at({11, 5175}));
    EXPECT_EQ(std::vector<unsigned>(3, kAcThree), lengths.at({12, 5175}));
    EXPECT_EQ(std::vector<unsigned>(3, kRcFour), lengths.at({1, 5177}));
    const auto logs = LogTexts(events);
    EXPECT_EQ(1u, CountContaining(logs, "ProcotolError 11 read 40_41 channel_count is 3, cached 2"));
    EXPECT_EQ(1u, CountContaining(logs, "ProcotolError 12 read 40_41 channel_count is 3, cached 2"));
    EXPECT_EQ(1u, CountContaining(logs, "ProcotolError 1 read 41_41 channel_count is 4, cached 3"));
    EXPECT_EQ(0u, CountContaining(logs, "overflow memory boundary"));
}

// A module pulled from the running site: the rectifier analog reply is
// refused twice, adopted at the third exchange, and the cycles go on with
// the new layout. The test waits on what the event file shows, never on how
// fast the machine is: the monitor runs until the new layout has been
// published three times. Only the kinds read here are written and the file
// never rotates, so every event of the run stays in it; the reply timeouts
// are generous, so a busy machine repeats no command.
TEST(CountChange, AModuleRemovedFromTheRunningSiteIsAdoptedAfterThreeExchanges) {
    const ScratchDir scratch("count-live");
    const std::string& dir = scratch.Path();
    const std::string scenario = dir + "/scenario.json";
    const std::string eventsPath = dir + "/events.jsonl";
    WriteFile(scenario, "{}");
    Process sim({kSim, "--pty", "--scenario", scenario}, true);
    ASSERT_FALSE(sim.FirstLine().empty());
    Process monitor({kMonitor, "--fast", "--quiet", "--port", sim.FirstLine(), "--events",
                     eventsPath, "--events-max-mb", "0", "--events-omit", "rules,history",
                     "--timeout-first", "30000", "--timeout-gap", "30000"});
    EventTail tail(eventsPath);
    ASSERT_TRUE(tail.WaitFor(120, [](const std::vector<Json::Value>& events) {
        return CountRecords(events, 5177, kRcFour) >= 2;
    }));
    ReplaceFile(scenario, R"({"rc": {"modules": [{}, {}, {}]}})");
    EXPECT_TRUE(tail.WaitFor(120, [](const std::vector<Json::Value>& events) {
        return CountRecords(events, 5177, kRcThree) >= 3;
    })) << "three-module images: " << CountRecords(tail.Read(), 5177, kRcThree);
    EXPECT_EQ(0, monitor.Stop(60));
    EXPECT_EQ(0, sim.Stop(60));

    const auto& events = tail.Read();
    const auto logs = LogTexts(events);
    EXPECT_EQ(1u, CountContaining(logs, "ProcotolError 1 read 41_41 channel_count is 3 in 3 "
                                        "blocks, 4 replaced"));
    EXPECT_EQ(2u, CountContaining(logs, "parse p41_41 overflow memory boundary"));
    EXPECT_TRUE(EventsOf(events, "timeout").empty());
    // Exchanges of the rectifier analog step between the last image of four
    // modules and the first of three: the two refused and the adopting one.
    int stepFour = 0;
    bool seenFour = false, seenThree = false;
    for (const auto& e : events) {
        if (e["event"] == "record" && e["type"] == 5177) {
            const unsigned length = e["length"].asUInt();
            if (length == kRcFour && !seenThree) {
                seenFour = true;
                stepFour = 0;
            } else if (length == kRcThree) {
                seenThree = true;
            } else if (length != kRcFour) {
                ADD_FAILURE() << "rectifier image of " << length << " bytes";
            }
        }
        if (seenFour && !seenThree && e["event"] == "command" && e["step"] == 4) ++stepFour;
    }
    EXPECT_TRUE(seenThree);
    EXPECT_EQ(3, stepFour);
    const auto lengths = RecordLengths(events).at({1, 5177});
    EXPECT_EQ(kRcThree, lengths.back());
    EXPECT_GE(std::count(lengths.begin(), lengths.end(), kRcThree), 3);
}

// A single reply with a wrong unit count is still refused: the step is
// repeated and no count ever changes.
TEST(CountChange, SingleWrongCountsAreRefusedAndTheCyclesGoOn) {
    const ScratchDir scratch("count-wrong");
    const std::string& dir = scratch.Path();
    Process sim({kSim, "--pty", "--seed", "3", "--wrong-count", "25", "--stats",
                 dir + "/stats.json"}, true);
    ASSERT_FALSE(sim.FirstLine().empty());
    ASSERT_EQ(0, RunMonitor({kMonitor, "--fast", "--quiet", "--port", sim.FirstLine(),
                             "--cycles", "8", "--events", dir + "/events.jsonl"}));
    EXPECT_EQ(0, sim.Stop());
    const auto events = ReadEvents(dir + "/events.jsonl");
    EXPECT_EQ(8u, EventsOf(events, "cycle").size());
    for (const auto& [key, lengths] : RecordLengths(events)) {
        const unsigned expected = key.second == 5175 ? kAcThree : key.second == 5176 ? 450 : kRcFour;
        EXPECT_EQ(std::vector<unsigned>(8, expected), lengths) << key.first;
    }
    const auto logs = LogTexts(events);
    EXPECT_EQ(0u, CountContaining(logs, "replaced"));
    EXPECT_GE(CountContaining(logs, "parse p41_41 overflow memory boundary"), 1u);
    std::ifstream in(dir + "/stats.json");
    const std::string stats((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_GT(ParseJson(stats)["wrong_count"].asInt(), 0);
}

// The first DC screen sends 56 user values, one more than its record holds:
// they are stepped over, every cycle completes, and the second screen's image
// is the same as with a well-formed first screen.
TEST(CountChange, FiftySixUserValuesOnTheFirstDcScreenLeaveTheSecondExact) {
    const ScratchDir scratch("dc-user");
    const std::string& dir = scratch.Path();
    std::string values;
    for (int k = 1; k <= 56; ++k) values += (k > 1 ? ", " : "") + std::to_string(k) + ".5";
    WriteFile(dir + "/user.json", R"({"dc": {"0": {"user": [)" + values + "]}}}");
    ASSERT_EQ(0, RunMonitor({kMonitor, "--fast", "--quiet", "--cycles", "3", "--sim-scenario",
                             dir + "/user.json", "--events", dir + "/user.jsonl"}));
    ASSERT_EQ(0, RunMonitor({kMonitor, "--fast", "--quiet", "--cycles", "1", "--events",
                             dir + "/plain.jsonl"}));
    const auto events = ReadEvents(dir + "/user.jsonl");
    EXPECT_EQ(3u, EventsOf(events, "cycle").size());
    const auto secondImage = [](const std::vector<Json::Value>& all) {
        std::vector<std::string> images;
        for (const auto& r : EventsOf(all, "record")) {
            // Without the 7-byte stamp at the end of the 450 bytes.
            if (r["data_id"] == 22) images.push_back(r["image"].asString().substr(0, 2 * 443));
        }
        return images;
    };
    const auto withUser = secondImage(events);
    const auto plain = secondImage(ReadEvents(dir + "/plain.jsonl"));
    ASSERT_EQ(3u, withUser.size());
    ASSERT_EQ(1u, plain.size());
    for (const auto& image : withUser) EXPECT_EQ(plain[0], image);
    const auto logs = LogTexts(events);
    EXPECT_EQ(3u, CountContaining(logs, "ProcotolError 21 read p_count is 56, support user_p max is 55"));
    EXPECT_EQ(0u, CountContaining(logs, "overflow"));
}
