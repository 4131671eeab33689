// The monitor on a line that misbehaves: late and repeated replies, noise,
// a device pulled and plugged in again, a second monitor on the same port.
#include <gtest/gtest.h>

#include <map>
#include <set>

#include "Broker.h"
#include "ProcessKit.h"
#include "record_fields.h"

using namespace testing_support;

namespace {
const std::string kMonitor = TRM27K_MONITOR_PATH;
const std::string kSim = TRM27K_SIM_PATH;
const std::string kHostile = TRM27K_HOSTILE_PATH;

using ImageKey = std::pair<unsigned, int>;  // data id, record type
using Images = std::map<ImageKey, std::set<std::string>>;

// Where a record keeps its 7-byte time stamp: the one part of an image that
// differs between two cycles over the same replies.
size_t TimeOffset(int type) {
    const auto find = [](const auto& table) {
        for (const decode::Field& f : table) {
            if (std::string(f.name) == "ttime") return f.offset;
        }
        return size_t{0};
    };
    return type == 5175 ? find(decode::kAcScreen) : type == 5176 ? find(decode::kDcRecord)
                                                                  : find(decode::kRcRecord);
}

// Every published image of a run, time stamps blanked.
Images PublishedImages(const std::vector<Json::Value>& events) {
    Images out;
    for (const auto& r : EventsOf(events, "record")) {
        const int type = r["type"].asInt();
        std::string hex = r["image"].asString();
        hex.replace(2 * TimeOffset(type), 14, 14, '-');
        out[{r["data_id"].asUInt(), type}].insert(hex);
    }
    return out;
}

// Images that differ from what the reference run decoded from the same
// replies: a reply taken for another command shows here.
int WrongImages(const Images& run, const Images& reference) {
    int wrong = 0;
    for (const auto& [key, images] : run) {
        for (const std::string& image : images) wrong += reference.at(key).count(image) == 0;
    }
    return wrong;
}

std::vector<Json::Value> RunAgainst(const std::string& dir, const std::string& name,
                                    std::vector<std::string> simArgs,
                                    std::vector<std::string> monitorArgs) {
    simArgs.insert(simArgs.begin(), {kSim, "--pty"});
    Process sim(simArgs, true);
    EXPECT_FALSE(sim.FirstLine().empty());
    const std::string events = dir + "/" + name + ".jsonl";
    std::vector<std::string> args = {kMonitor, "--fast", "--quiet", "--port", sim.FirstLine(),
                                     "--events", events};
    args.insert(args.end(), monitorArgs.begin(), monitorArgs.end());
    Process monitor(args);
    EXPECT_EQ(0, monitor.Wait(120)) << name;
    EXPECT_EQ(0, sim.Stop()) << name;
    return ReadEvents(events);
}

// Waits until `done` holds for the events of `path` (up to `seconds`).
template <class Done>
bool WaitForEvents(const std::string& path, double seconds, Done done) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (std::chrono::steady_clock::now() < end) {
        if (done(ReadEvents(path))) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return false;
}
}  // namespace

TEST(LineEndToEnd, LateAndDuplicatedRepliesNeverAnswerAnotherCommand) {
    const ScratchDir scratch("replies");
    const std::string& dir = scratch.Path();
    const Images reference =
        PublishedImages(RunAgainst(dir, "reference", {}, {"--cycles", "2"}));
    ASSERT_EQ(5u, reference.size());

    // Every reply twice: the second copy answers nothing. 20 cycles are the
    // model query and 10 commands a cycle, none repeated.
    const auto twice = RunAgainst(dir, "twice", {"--duplicate", "100"}, {"--cycles", "20"});
    EXPECT_EQ(20u, EventsOf(twice, "cycle").size());
    EXPECT_EQ(201u, EventsOf(twice, "command").size());
    EXPECT_EQ(0, WrongImages(PublishedImages(twice), reference));

    // A fifth of the replies come after their timeout, while the repeated
    // command waits; the DC alarm and analog replies share CID1, so a reply
    // shifted onto the next command would be parsed as the other one.
    const auto late = RunAgainst(dir, "late", {"--seed", "4", "--delay", "20:450"},
                                 {"--cycles", "15", "--timeout-first", "250"});
    EXPECT_EQ(15u, EventsOf(late, "cycle").size());
    EXPECT_GE(EventsOf(late, "timeout").size(), 3u);
    EXPECT_EQ(0, WrongImages(PublishedImages(late), reference));
}

TEST(LineEndToEnd, BytesThatNeverMakeAReplyCannotHoldAnExchangeOpen) {
    const ScratchDir scratch("hostile");
    const std::string& dir = scratch.Path();
    const std::vector<std::string> modes = {"noise", "starts", "long"};
    std::vector<std::unique_ptr<Process>> devices, monitors;
    for (const std::string& mode : modes) {
        devices.push_back(std::make_unique<Process>(std::vector<std::string>{kHostile, mode}, true));
        ASSERT_FALSE(devices.back()->FirstLine().empty()) << mode;
        monitors.push_back(std::make_unique<Process>(std::vector<std::string>{
            kMonitor, "--fast", "--quiet", "--port", devices.back()->FirstLine(),
            "--timeout-first", "200", "--events", dir + "/" + mode + ".jsonl"}));
    }
    // The deadline: 200 ms, the longest frame at 9600 baud (4.3 s), a gap.
    for (size_t k = 0; k < modes.size(); ++k) {
        const std::string path = dir + "/" + modes[k] + ".jsonl";
        EXPECT_TRUE(WaitForEvents(path, 30, [](const std::vector<Json::Value>& events) {
            return EventsOf(events, "timeout").size() >= 2;
        })) << modes[k];
    }
    for (auto& m : monitors) EXPECT_EQ(0, m->Stop());
    for (auto& d : devices) EXPECT_EQ(0, d->Stop());
    for (const std::string& mode : modes) {
        const auto events = ReadEvents(dir + "/" + mode + ".jsonl");
        const auto timeouts = EventsOf(events, "timeout");
        // The whole exchange is told, the wait for a quiet line beside it.
        for (const auto& t : timeouts) {
            const double quiet = t["quiet_wait_ms"].asDouble();
            EXPECT_LT(t["waited_ms"].asDouble() - quiet, 8000) << mode;
            EXPECT_LT(quiet, 8000) << mode;
            EXPECT_GT(t["bytes"].asUInt64(), 0u) << mode;
        }
        // One frame error an exchange at most, at least one in all; the
        // bytes that made no frame keep the shape of every frame error.
        const auto errors = EventsOf(events, "frame_error");
        EXPECT_GE(errors.size(), 1u) << mode;
        EXPECT_LE(errors.size(), EventsOf(events, "command").size()) << mode;
        for (const auto& e : errors) {
            if (e["reason"] != "no complete frame") continue;
            EXPECT_FALSE(e["raw"].asString().empty()) << mode;
            EXPECT_LE(e["raw"].asString().size(), 512u) << mode;
            EXPECT_GE(2 * e["bytes"].asUInt64(), e["raw"].asString().size()) << mode;
        }
    }
}

TEST(LineEndToEnd, ALostLineComesBackOnTheAdaptersNewNode) {
    const ScratchDir scratch("reconnect");
    const std::string& dir = scratch.Path();
    const std::string link = dir + "/by-id-port";
    const std::string events = dir + "/events.jsonl";
    const auto pointLinkAt = [&](const std::string& node) {
        const std::string fresh = link + ".new";
        std::filesystem::remove(fresh);
        std::filesystem::create_symlink(node, fresh);
        std::filesystem::rename(fresh, link);
    };
    auto first = std::make_unique<Process>(std::vector<std::string>{kSim, "--pty", "--pace"}, true);
    ASSERT_FALSE(first->FirstLine().empty());
    pointLinkAt(first->FirstLine());
    // Unpaced, the second simulator's cycles would fill and rotate the event
    // file (16 MiB) within two seconds, the link events with it.
    Process monitor({kMonitor, "--fast", "--quiet", "--port", link, "--events", events, "--events-omit", "rules,record"});
    const auto cycles = [](size_t n) {
        return [n](const std::vector<Json::Value>& e) { return EventsOf(e, "cycle").size() >= n; };
    };
    ASSERT_TRUE(WaitForEvents(events, 60, cycles(1)));
    first->Kill();  // pulled mid-reply: paced replies take most of the time
    std::filesystem::remove(link);  // gone until the adapter is back
    ASSERT_TRUE(WaitForEvents(events, 20, [](const std::vector<Json::Value>& e) {
        return !EventsOf(e, "link").empty();
    }));
    Process second({kSim, "--pty"}, true);
    ASSERT_FALSE(second.FirstLine().empty());
    pointLinkAt(second.FirstLine());
    const size_t before = EventsOf(ReadEvents(events), "cycle").size();
    ASSERT_TRUE(WaitForEvents(events, 60, cycles(before + 3)));
    EXPECT_EQ(0, monitor.Stop());
    const auto link_events = EventsOf(ReadEvents(events), "link");
    ASSERT_EQ(2u, link_events.size());
    EXPECT_EQ("down", link_events[0]["state"].asString());
    EXPECT_FALSE(link_events[0]["reason"].asString().empty());
    EXPECT_EQ("up", link_events[1]["state"].asString());
    EXPECT_EQ(second.FirstLine(), link_events[1]["device"].asString());
    EXPECT_EQ(0, second.Stop());
}

TEST(LineEndToEnd, ASecondMonitorOnTheSamePortIsToldItIsBusy) {
    const ScratchDir scratch("busy");
    const std::string& dir = scratch.Path();
    Process sim({kSim, "--pty"}, true);
    ASSERT_FALSE(sim.FirstLine().empty());
    Process first({kMonitor, "--fast", "--quiet", "--port", sim.FirstLine(), "--events",
                   dir + "/first.jsonl"});
    ASSERT_TRUE(WaitForEvents(dir + "/first.jsonl", 30, [](const std::vector<Json::Value>& e) {
        return !EventsOf(e, "cycle").empty();
    }));
    Process second({kMonitor, "--fast", "--quiet", "--port", sim.FirstLine()}, false,
                   dir + "/second.err");
    EXPECT_EQ(1, second.Wait(20));
    std::ifstream err(dir + "/second.err");
    const std::string text((std::istreambuf_iterator<char>(err)), std::istreambuf_iterator<char>());
    EXPECT_NE(std::string::npos, text.find("busy")) << text;
    EXPECT_EQ(0, first.Stop());
    EXPECT_EQ(0, sim.Stop());
}

// A port that cannot be opened after every output started (HTTP listening,
// MQTT connecting to a broker that is not there, history, events): all of
// them are stopped and the run ends with 1 at once, every time.
TEST(LineEndToEnd, AFailedStartStopsEveryOutputAndExits) {
    const ScratchDir scratch("start-fail");
    const std::string& dir = scratch.Path();
    for (int k = 0; k < 5; ++k) {
        const auto started = std::chrono::steady_clock::now();
        Process monitor({kMonitor, "--port", dir + "/no-such-port", "--http", "127.0.0.1:" + std::to_string(FreePort()),
                         "--mqtt", "127.0.0.1:" + std::to_string(FreePort()), "--history", dir + "/h.db",
                         "--events", dir + "/events.jsonl"},
                        false, dir + "/err.txt");
        ASSERT_EQ(1, monitor.Wait(30)) << k;
        const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
        EXPECT_LT(seconds, IsEmulated() ? 20.0 : 5.0) << k;
    }
}

TEST(LineEndToEnd, AStandardOutputNobodyReadsDoesNotStopThePoll) {
    const ScratchDir scratch("stdout");
    const std::string& dir = scratch.Path();
    // Its first summary line is read, then the pipe is left full (as with
    // `trm27k-monitor | sleep 25`); 400 summaries are far beyond the pipe.
    // Only the cycles are kept, so the event file never rotates.
    Process monitor({kMonitor, "--fast", "--cycles", "400", "--events", dir + "/events.jsonl",
                     "--events-omit", "command,record,rules,alarm"},
                    true);
    EXPECT_EQ(0u, monitor.FirstLine().rfind("cycle 1 ", 0)) << monitor.FirstLine();
    EXPECT_EQ(0, monitor.Wait(180));
    EXPECT_EQ(400u, EventsOf(ReadEvents(dir + "/events.jsonl"), "cycle").size());
}
