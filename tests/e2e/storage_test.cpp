// The monitor's files end to end: failed writes are never reported as saved,
// both files stay bounded, alarms and images survive a restart only as far
// as they are still true, and a killed monitor leaves files that restore.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <sys/resource.h>
#include <sys/stat.h>

#include <iterator>
#include <map>
#include <random>

#include "Broker.h"
#include "ProcessKit.h"
#include "Zone.h"
#include "hex_text.h"
#include "history_store.h"

using namespace testing_support;

namespace {
const std::string kMonitor = TRM27K_MONITOR_PATH;

struct MonitorRun {
    int status;
    std::vector<Json::Value> events;
};

// Runs the monitor to its end; `fileLimit` bytes (rounded to 512) cap every
// file it writes, as a full disk would.
MonitorRun Monitor(const std::string& dir, std::vector<std::string> extra, rlim_t fileLimit = 0) {
    std::vector<std::string> args = {kMonitor, "--fast", "--quiet", "--events", dir + "/events.jsonl"};
    args.insert(args.end(), extra.begin(), extra.end());
    rlimit saved {};
    getrlimit(RLIMIT_FSIZE, &saved);
    if (fileLimit > 0) {
        const rlimit limited{fileLimit, saved.rlim_max};
        setrlimit(RLIMIT_FSIZE, &limited);  // inherited by the monitor
    }
    Process p(args);
    setrlimit(RLIMIT_FSIZE, &saved);
    const int status = p.Wait(60);
    return {status, ReadEvents(dir + "/events.jsonl")};
}

size_t Count(const std::vector<Json::Value>& events, const std::string& kind) {
    return EventsOf(events, kind).size();
}

// Every deflated image of a history stored whole again, the length column
// gone: the layout of the monitors before schema 4.
void InflateImages(const std::string& path) {
    history::HistoryStore store;
    std::string error, sql;
    ASSERT_TRUE(store.Open(path, error)) << error;
    ASSERT_TRUE(store.ForEachImage([&sql](const history::ImageRow& row) {
        sql += "UPDATE history SET image = X'" + site::HexText(row.image.data(), row.image.size()) +
               "' WHERE id = " + std::to_string(row.id) + ";";
    }, error)) << error;
    sql += "ALTER TABLE history DROP COLUMN image_length;";
    EXPECT_TRUE(store.Exec(sql.c_str(), error)) << error;
}
}  // namespace

// A database that is not this monitor's, or of a newer schema, is refused
// before anything is written to it; a held lock makes every save fail.
TEST(MonitorStorage, RefusedAndFailedHistoryWritesAreNeverReportedAsSaved) {
    const ScratchDir scratch("storage-refused");
    const std::string& dir = scratch.Path();
    const std::string db = dir + "/h.db";
    ASSERT_EQ(0, Monitor(dir, {"--cycles", "1", "--history", db}).status);
    Sql(db, "PRAGMA user_version = 5");
    const std::string before = Sql(db, "SELECT count(*) FROM history");
    MonitorRun newer = Monitor(dir, {"--cycles", "2", "--history", db});
    EXPECT_EQ(2, newer.status);
    ASSERT_EQ(1u, Count(newer.events, "storage"));
    EXPECT_NE(std::string::npos, EventsOf(newer.events, "storage")[0]["reason"].asString().find("schema 5"));
    EXPECT_EQ(5u, Count(newer.events, "history"));  // those of the first run only
    EXPECT_EQ(before, Sql(db, "SELECT count(*) FROM history"));
    EXPECT_EQ("5", Sql(db, "PRAGMA user_version"));

    WriteFile(dir + "/other.db", "");
    Sql(dir + "/other.db", "CREATE TABLE t (x)");
    EXPECT_EQ(2, Monitor(dir, {"--cycles", "1", "--history", dir + "/other.db"}).status);
    WriteFile(dir + "/text.db", "not a database at all, just text\n");
    EXPECT_EQ(2, Monitor(dir, {"--cycles", "1", "--history", dir + "/text.db"}).status);
    std::ifstream text(dir + "/text.db");
    std::string line;
    std::getline(text, line);
    EXPECT_EQ("not a database at all, just text", line);

    // Another process holds the write lock for the whole run.
    const std::string locked = dir + "/locked.db";
    ASSERT_EQ(0, Monitor(dir, {"--cycles", "1", "--history", locked}).status);
    std::remove((dir + "/events.jsonl").c_str());
    sqlite3* holder = nullptr;
    ASSERT_EQ(SQLITE_OK, sqlite3_open(locked.c_str(), &holder));
    ASSERT_EQ(SQLITE_OK, sqlite3_exec(holder, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr));
    const MonitorRun held = Monitor(dir, {"--cycles", "2", "--history", locked});
    sqlite3_exec(holder, "ROLLBACK", nullptr, nullptr, nullptr);
    sqlite3_close(holder);
    EXPECT_EQ(3, held.status);
    EXPECT_EQ(0u, Count(held.events, "history"));
    const auto storage = EventsOf(held.events, "storage");
    ASSERT_FALSE(storage.empty());
    EXPECT_EQ("database is locked", storage[0]["reason"].asString());
    EXPECT_EQ("5", Sql(locked, "SELECT count(*) FROM history"));
}

// File size limits (as on a full disk): the poll goes on, every saved row
// is a history event and no more, the event file holds whole lines only.
TEST(MonitorStorage, AFullDiskLosesRowsAndLinesButNothingIsReportedFalsely) {
    const ScratchDir scratch("storage-full");
    const std::string& dir = scratch.Path();
    const std::string db = dir + "/h.db";
    // 160 KiB per file: room for some cycles of history, then no more.
    const MonitorRun full = Monitor(dir, {"--cycles", "60", "--history", db, "--events-omit", "command,record,rules"},
                             160 * 1024);
    EXPECT_EQ(3, full.status);
    EXPECT_EQ(60u, Count(full.events, "cycle"));
    const auto storage = EventsOf(full.events, "storage");
    ASSERT_FALSE(storage.empty());
    EXPECT_EQ("history", storage[0]["target"].asString());
    EXPECT_EQ("failed", storage[0]["state"].asString());
    EXPECT_LE(storage.size(), 2u) << "one when the failures start, one when they end; counters carry the rest";
    const std::string rows = Sql(db, "SELECT count(*) FROM history");
    EXPECT_EQ(rows, std::to_string(Count(full.events, "history")));
    EXPECT_LT(std::stoi(rows), 300);
    EXPECT_EQ("ok", Sql(db, "PRAGMA integrity_check"));

    // The event file itself cannot be written: counted, reported, exit 3.
    Process devFull({kMonitor, "--fast", "--quiet", "--cycles", "2", "--events", "/dev/full"});
    EXPECT_EQ(3, devFull.Wait(60));
}

// An alarm still active after a restart is not raised again; one that
// cleared while the monitor was stopped is recorded as cleared.
TEST(MonitorStorage, AlarmStateSurvivesARestart) {
    const ScratchDir scratch("storage-alarms");
    const std::string& dir = scratch.Path();
    const std::string db = dir + "/h.db";
    WriteFile(dir + "/alarm.json", R"({"ac": {"0": {"channels": {"0": {"c_alert": 2}}}}})");
    WriteFile(dir + "/quiet.json", "{}");
    const auto alarms = [&](const std::string& scenario) {
        std::remove((dir + "/events.jsonl").c_str());
        const MonitorRun run = Monitor(dir, {"--cycles", "2", "--history", db, "--sim-scenario", dir + "/" + scenario});
        EXPECT_EQ(0, run.status);
        std::vector<std::string> seen;
        for (const auto& a : EventsOf(run.events, "alarm")) {
            seen.push_back(a["key"].asString() + " " + a["state"].asString());
        }
        return seen;
    };
    EXPECT_EQ(std::vector<std::string>{"AC_6 raised"}, alarms("alarm.json"));
    EXPECT_EQ(std::vector<std::string>{}, alarms("alarm.json"));
    EXPECT_EQ(std::vector<std::string>{"AC_6 cleared"}, alarms("quiet.json"));
    EXPECT_EQ(std::vector<std::string>{}, alarms("quiet.json"));
    EXPECT_EQ("0", Sql(db, "SELECT count(*) FROM active_alarms"));
    EXPECT_EQ("2", Sql(db, "SELECT count(*) FROM alarms"));
}

// A restored image counts as current, so one older than a minute is not
// offered: queries wait for the first cycle.
TEST(MonitorStorage, AnOldImageIsNotRestored) {
    const ScratchDir scratch("storage-old");
    const std::string& dir = scratch.Path();
    const std::string db = dir + "/h.db";
    ASSERT_EQ(0, Monitor(dir, {"--cycles", "1", "--history", db}).status);
    const auto answer = [&] {
        const MonitorRun run = Monitor(dir, {"--cycles", "0", "--history", db, "--query", "21:v"});
        EXPECT_EQ(0, run.status);
        const auto values = EventsOf(run.events, "value");
        return values.empty() ? Json::Value() : values.back();
    };
    EXPECT_NEAR(53.5, answer()["value"].asDouble(), 0.01);
    Sql(db, "UPDATE history SET time = strftime('%Y-%m-%dT%H:%M:%SZ', time, '-16 minutes');"
            "UPDATE seen SET time = strftime('%Y-%m-%dT%H:%M:%SZ', time, '-16 minutes')");
    EXPECT_EQ("数据未就绪", answer()["error"].asString());
}

// Saved times are instants: an image saved three hours west of UTC is fresh
// to a monitor restarted five hours east of it; a file of an earlier monitor,
// with local times, is moved to UTC once, read as the local time it was.
TEST(MonitorStorage, SavedTimesAreInstantsWhateverTheZone) {
    const ScratchDir scratch("storage-zone");
    const std::string& dir = scratch.Path();
    const std::string db = dir + "/h.db";
    const auto restored = [&](const char* zone) {
        const ZoneScope scope(zone);
        const MonitorRun run = Monitor(dir, {"--cycles", "0", "--history", db, "--query", "21:v"});
        EXPECT_EQ(0, run.status);
        const auto values = EventsOf(run.events, "value");
        return !values.empty() && values.back().isMember("value");
    };
    std::string first;
    {
        const ZoneScope west("WST+3");
        ASSERT_EQ(0, Monitor(dir, {"--cycles", "1", "--history", db}).status);
        first = Sql(db, "SELECT time FROM history WHERE id = 1");
        EXPECT_EQ(Sql(db, "SELECT count(*) FROM history"), Sql(db, "SELECT count(*) FROM history WHERE time LIKE '%Z'"));
        // As an earlier monitor wrote it: whole images, local times without
        // an offset, schema 2.
        InflateImages(db);
        Sql(db, "UPDATE history SET time = strftime('%Y-%m-%dT%H:%M:%S', time, 'localtime');"
                "UPDATE seen SET time = strftime('%Y-%m-%dT%H:%M:%S', time, 'localtime');"
                "PRAGMA user_version = 2");
    }
    EXPECT_TRUE(restored("WST+3"));  // read only: the old file as it is
    {
        const ZoneScope west("WST+3");
        ASSERT_EQ(0, Monitor(dir, {"--cycles", "1", "--history", db}).status);
    }
    EXPECT_EQ("4", Sql(db, "PRAGMA user_version"));
    EXPECT_EQ(first, Sql(db, "SELECT time FROM history WHERE id = 1"));
    EXPECT_EQ("", Sql(db, "SELECT image_length FROM history WHERE id = 1")) << "an old row stays whole";
    EXPECT_EQ("0", Sql(db, "SELECT count(*) FROM history WHERE time NOT LIKE '%Z'"));
    EXPECT_TRUE(restored("EST-5"));
}

// Old rows go a few hundred at a time; the event file rotates and keeps
// its number of files; SIGHUP reopens it after it was moved away.
TEST(MonitorStorage, RetentionAndRotationBoundBothFiles) {
    const ScratchDir scratch("storage-bounded");
    const std::string& dir = scratch.Path();
    const std::string db = dir + "/h.db";
    ASSERT_EQ(0, Monitor(dir, {"--cycles", "1", "--history", db}).status);
    // Two years' worth of old rows, as if the clock had moved on.
    Sql(db, "WITH RECURSIVE n(k) AS (SELECT 1 UNION ALL SELECT k + 1 FROM n WHERE k < 300)"
            " INSERT INTO history (time, data_id, device, record_type, image)"
            " SELECT '2024-01-01T00:00:00', 11, 'trm27k-ac', 5175, zeroblob(522) FROM n");
    ASSERT_EQ("305", Sql(db, "SELECT count(*) FROM history"));
    ASSERT_EQ(0, Monitor(dir, {"--cycles", "2", "--history", db, "--retain-days", "30"}).status);
    EXPECT_EQ("15", Sql(db, "SELECT count(*) FROM history"));
    EXPECT_EQ("0", Sql(db, "SELECT count(*) FROM history WHERE time < '2025'"));

    // About 60 KB a cycle: 1 MiB is passed within 20 cycles, several times in 60.
    const MonitorRun rotated = Monitor(dir, {"--cycles", "60", "--events-max-mb", "1", "--events-keep", "2"});
    EXPECT_EQ(0, rotated.status);
    struct stat st {};
    for (const char* suffix : {"", ".1", ".2"}) {
        ASSERT_EQ(0, stat((dir + "/events.jsonl" + suffix).c_str(), &st)) << suffix;
        EXPECT_LE(st.st_size, 1 << 20);
        for (const auto& e : ReadEvents(dir + "/events.jsonl" + suffix)) EXPECT_TRUE(e.isObject());
    }
    EXPECT_NE(0, stat((dir + "/events.jsonl.3").c_str(), &st));

    std::remove((dir + "/events.jsonl").c_str());
    Process monitor({kMonitor, "--fast", "--quiet", "--events", dir + "/events.jsonl"});
    for (int i = 0; i < 500 && Count(ReadEvents(dir + "/events.jsonl"), "cycle") < 2; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    ASSERT_EQ(0, std::rename((dir + "/events.jsonl").c_str(), (dir + "/moved.jsonl").c_str()));
    kill(monitor.Pid(), SIGHUP);
    for (int i = 0; i < 500 && Count(ReadEvents(dir + "/events.jsonl"), "cycle") < 2; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    EXPECT_EQ(0, monitor.Stop());
    EXPECT_GE(Count(ReadEvents(dir + "/events.jsonl"), "cycle"), 2u);
    // Appended, never truncated: a second run adds to the first.
    const size_t before = ReadEvents(dir + "/events.jsonl").size();
    ASSERT_EQ(0, Monitor(dir, {"--cycles", "1"}).status);
    EXPECT_GT(ReadEvents(dir + "/events.jsonl").size(), before);
    EXPECT_FALSE(ReadEvents(dir + "/moved.jsonl").empty());
}

// Killed at random moments while it writes: the database stays whole and
// restores, the event file holds whole lines, at most the cycle in flight
// is missing from the history.
TEST(MonitorStorage, SigkillNeverCorruptsEitherFile) {
    const ScratchDir scratch("storage-kill");
    const std::string& dir = scratch.Path();
    const std::string db = dir + "/h.db";
    std::mt19937 random(20261209);
    size_t rowsBefore = 0;
    for (int round = 0; round < 20; ++round) {
        const std::string events = dir + "/events-" + std::to_string(round) + ".jsonl";
        {
            Process monitor({kMonitor, "--fast", "--quiet", "--history", db, "--events", events,
                             "--plugin-stdout", "/dev/null"});
            // An emulated monitor takes longer to start and to reach its cycles.
            const unsigned scale = IsEmulated() ? 4 : 1;
            std::this_thread::sleep_for(std::chrono::milliseconds(scale * (150 + random() % 500)));
            kill(monitor.Pid(), SIGKILL);
            monitor.Wait(10);
        }
        ASSERT_EQ("ok", Sql(db, "PRAGMA integrity_check")) << round;
        // A kill in the middle of a long line's write may cut it; the next
        // start drops the cut line before it appends.
        {
            Process repair({kMonitor, "--fast", "--quiet", "--cycles", "0", "--history", db,
                            "--events", events, "--plugin-stdout", "/dev/null"});
            ASSERT_EQ(0, repair.Wait(30)) << round;
        }
        std::ifstream in(events);
        const std::string all((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        ASSERT_TRUE(all.empty() || all.back() == '\n') << round;
        const auto lines = ReadEvents(events);
        for (const auto& e : lines) ASSERT_TRUE(e.isObject()) << round;
        // Every row reported saved is there; the history's writer runs
        // beside the poll, so the last few completed cycles may still have
        // been waiting for it; the rest have their five rows.
        // A kill before the database was made leaves no table: no rows.
        const std::string count = Sql(db, "SELECT count(*) FROM history");
        const size_t rows = (count.empty() ? 0 : std::stoul(count)) - rowsBefore;
        rowsBefore += rows;
        EXPECT_GE(rows, Count(lines, "history")) << round;
        EXPECT_GE(rows + 5 * 5, 5 * Count(lines, "cycle")) << round;
        EXPECT_EQ(0u, rows % 5) << round;
    }
    const MonitorRun restart = Monitor(dir, {"--cycles", "0", "--history", db, "--query", "21:v"});
    EXPECT_EQ(0, restart.status);
    EXPECT_NEAR(53.5, EventsOf(restart.events, "value").at(0)["value"].asDouble(), 0.01);
}

// The decoder only reads: a missing file is not created, nothing is made
// beside a monitor's database (no -wal, no -shm), rows with NULL columns
// from another writer are reported, not a crash.
TEST(MonitorStorage, TheDecoderReadsWithoutChangingAnything) {
    const ScratchDir scratch("storage-decode");
    const std::string& dir = scratch.Path();
    const auto decode = [](const std::vector<std::string>& args) {
        std::vector<std::string> all = {TRM27K_DECODE_PATH};
        all.insert(all.end(), args.begin(), args.end());
        Process p(all, true);
        return std::make_pair(p.Wait(30), p.FirstLine());
    };
    EXPECT_EQ(2, decode({"--history", dir + "/missing.db"}).first);
    struct stat st {};
    EXPECT_NE(0, stat((dir + "/missing.db").c_str(), &st));
    EXPECT_EQ(2, decode({"--file", dir}).first);

    const std::string db = dir + "/loose.db";
    Sql(db, "CREATE TABLE history (id INTEGER PRIMARY KEY, time TEXT, data_id INTEGER, device TEXT,"
            " record_type INTEGER, image BLOB); CREATE TABLE alarms (id INTEGER PRIMARY KEY);"
            " INSERT INTO history VALUES (1, NULL, 21, NULL, 5176, NULL);"
            " INSERT INTO history VALUES (2, '2026-12-09T10:00:00', 21, 'trm27k-dc', 5176, zeroblob(450))");
    const auto all = decode({"--history", db, "--all"});
    EXPECT_EQ(0, all.first);
    EXPECT_EQ("[", all.second);
    EXPECT_EQ("0", Sql(db, "PRAGMA user_version"));  // not upgraded by a reader

    const std::string history = dir + "/h.db";
    ASSERT_EQ(0, Monitor(dir, {"--cycles", "2", "--history", history}).status);
    for (const auto& args : {std::vector<std::string>{"--history", history},
                             std::vector<std::string>{"--history", history, "--all"}}) {
        EXPECT_EQ(0, decode(args).first);
        for (const char* beside : {"-wal", "-shm"}) {
            EXPECT_NE(0, stat((history + beside).c_str(), &st)) << beside;
        }
    }
}

namespace {
// The longest pause between two commands of a run, in milliseconds.
int64_t LongestCommandGap(const std::vector<Json::Value>& events) {
    int64_t longest = 0, last = -1;
    for (const Json::Value& e : EventsOf(events, "command")) {
        const int64_t at = e["t_ms"].asInt64();
        if (last >= 0) longest = std::max(longest, at - last);
        last = at;
    }
    return longest;
}
}  // namespace

// A slow card (every history commit takes 3 s) moves no exchange: the poll
// goes on while the history's own thread waits (eight cycles stay within
// how far the writer may fall behind), and the commits that follow take
// every cycle that came meanwhile, none lost.
TEST(MonitorStorage, ASlowCommitHoldsUpNoExchange) {
    const ScratchDir scratch("storage-slow");
    const std::string& dir = scratch.Path();
    const std::vector<std::string> args = {"--cycles", "8", "--history", dir + "/h.db",
                                           "--events-omit", "record,rules"};
    const MonitorRun quick = Monitor(dir, args);
    ASSERT_EQ(0, quick.status);
    std::remove((dir + "/events.jsonl").c_str());
    std::remove((dir + "/h.db").c_str());
    setenv("TRM27K_TEST_COMMIT_DELAY_MS", "3000", 1);
    const MonitorRun slow = Monitor(dir, args);
    unsetenv("TRM27K_TEST_COMMIT_DELAY_MS");
    ASSERT_EQ(0, slow.status);
    size_t cyclesBeforeFirstRow = 0;
    for (const Json::Value& e : slow.events) {
        if (e["event"] == "history") break;
        cyclesBeforeFirstRow += e["event"] == "cycle";
    }
    EXPECT_GE(cyclesBeforeFirstRow, 3u) << "cycles went on while the first commit waited";
    EXPECT_LT(LongestCommandGap(slow.events), 1500) << "quick run: " << LongestCommandGap(quick.events) << " ms";
    EXPECT_EQ(Count(quick.events, "history"), Count(slow.events, "history"));
    EXPECT_EQ("40", Sql(dir + "/h.db", "SELECT count(*) FROM history"));
    EXPECT_EQ(0u, Count(slow.events, "storage")) << "the poll never had to wait";
}

// With the broker away and the outbox at its bound, every message given up
// is told: a "storage" event with the drops by kind (the oldest states go
// first), once at most a minute and at the stop, never silently.
TEST(MonitorStorage, OutboxDropsAreTold) {
    const ScratchDir scratch("storage-outbox");
    const std::string& dir = scratch.Path();
    const MonitorRun run = Monitor(dir, {"--cycles", "400", "--mqtt", "127.0.0.1:" + std::to_string(FreePort()),
                                         "--mqtt-state-json", "--mqtt-heartbeat", "0", "--outbox-max-mb", "1",
                                         "--events-omit", "command,record,rules"});
    EXPECT_EQ(0, run.status);
    const auto storage = EventsOf(run.events, "storage");
    ASSERT_FALSE(storage.empty());
    uint64_t states = 0;
    for (const Json::Value& e : storage) {
        EXPECT_EQ("outbox", e["target"].asString());
        EXPECT_EQ("dropped", e["state"].asString());
        EXPECT_EQ(0u, e["dropped"]["alarm"].asUInt64()) << "raises and clears go last";
        states += e["dropped"]["state"].asUInt64();
    }
    EXPECT_GT(states, 0u);
    const auto cycles = EventsOf(run.events, "cycle");
    const int64_t minutes = (cycles.back()["t_ms"].asInt64() - cycles.front()["t_ms"].asInt64()) / 60000;
    EXPECT_LE(storage.size(), 2u + static_cast<size_t>(minutes)) << "at most once a minute, and at the stop";
}

// Without a history file nothing grows: the model keeps the newest values
// and the alarm state only (the resident memory the cycle events tell).
TEST(MonitorStorage, WithoutAHistoryFileMemoryStaysFlat) {
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "the sanitizer's quarantine keeps freed memory resident";
#endif
    const ScratchDir scratch("storage-flat");
    const std::string& dir = scratch.Path();
    const int cycles = IsEmulated() ? 600 : 2000;
    const MonitorRun run = Monitor(dir, {"--cycles", std::to_string(cycles), "--events-omit",
                                         "command,record,rules,log,value"});
    ASSERT_EQ(0, run.status);
    const auto seen = EventsOf(run.events, "cycle");
    ASSERT_EQ(static_cast<size_t>(cycles), seen.size());
    const int64_t early = seen[static_cast<size_t>(cycles / 4)]["rss_kb"].asInt64();
    const int64_t last = seen.back()["rss_kb"].asInt64();
    EXPECT_LE(last, early + 512) << "kB at cycle " << cycles / 4 << " and at the end";
}
