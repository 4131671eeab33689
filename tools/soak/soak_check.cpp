// trm27k-soak-check: judges a soak run of the monitor against the simulator.
//   trm27k-soak-check --events FILE --history DB --timeout-ms MS
//       --fault-free-events FILE (the same monitor without faults)
// Prints the figures and exits 1 when the run shows a stall, a lost history
// row, memory growth, or a record value the simulator never sent.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include <json/json.h>

#include "history_store.h"
#include "record_fields.h"
#include "replies.h"
#include "scenario.h"

namespace {
// Scheduling noise allowed on top of three fault-free cycles before a cycle
// counts as stalled: a busy shared machine can hold a process off the CPU
// for tens of milliseconds, while a real stall (a reply never ended, a gate
// waited twice) costs a timeout or a 2-second gate, far above this.
constexpr double kNoiseMs = 100;

struct Args {
    std::string events, history, faultFreeEvents;
    double faultFreeMs = 0, timeoutMs = 0, rssGrowthKb = 1024;
};

std::vector<Json::Value> ReadEvents(const std::string& path);

// The median cycle length of a fault-free run (its first cycle excluded: it
// carries the model query).
double MedianCycleMs(const std::string& path) {
    std::vector<double> lengths;
    double last = -1;
    for (const Json::Value& e : ReadEvents(path)) {
        if (e["event"].asString() != "cycle") continue;
        const double t = e["t_ms"].asDouble();
        if (last >= 0) lengths.push_back(t - last);
        last = t;
    }
    if (lengths.empty()) return 0;
    std::sort(lengths.begin(), lengths.end());
    return std::max(lengths[lengths.size() / 2], 1.0);
}

std::vector<Json::Value> ReadEvents(const std::string& path) {
    std::vector<Json::Value> out;
    std::ifstream in(path);
    Json::CharReaderBuilder builder;
    std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
    for (std::string line; std::getline(in, line);) {
        Json::Value v;
        std::string errors;
        if (reader->parse(line.data(), line.data() + line.size(), &v, &errors)) out.push_back(v);
    }
    return out;
}

// Every 4-byte window of every reply the simulator's scenario makes, plus
// the fill values the children store for values not provided (0.0, -0.1).
std::set<uint32_t> SentValues() {
    static constexpr uint8_t kCommands[][2] = {{0x40, 0x41}, {0x40, 0x43}, {0x40, 0x44},
                                               {0x40, 0x46}, {0x41, 0x41}, {0x41, 0x43},
                                               {0x41, 0x44}, {0x42, 0x41}, {0x42, 0x44},
                                               {0x42, 0x46}};
    std::set<uint32_t> values{0x00000000u, 0xBDCCCCCDu};
    const sim::Scenario scenario = sim::DefaultScenario();
    for (const auto& c : kCommands) {
        bool known = false;
        const std::vector<uint8_t> info = sim::BuildInfo(scenario, c[0], c[1], known);
        for (size_t i = 0; i + 4 <= info.size(); ++i) {
            uint32_t v;
            std::memcpy(&v, info.data() + i, 4);
            values.insert(v);
        }
    }
    return values;
}

template <size_t N>
int ForeignValues(const site::Field (&table)[N], const uint8_t* base, const std::set<uint32_t>& sent) {
    int foreign = 0;
    for (const site::Field& f : table) {
        if (f.kind != site::Kind::F32 && f.kind != site::Kind::F32Array) continue;
        for (size_t k = 0; k < f.count; ++k) {
            uint32_t v;
            std::memcpy(&v, base + f.offset + 4 * k, 4);
            foreign += sent.count(v) == 0;
        }
    }
    return foreign;
}

int ForeignInImage(const history::ImageRow& row, const std::set<uint32_t>& sent) {
    using namespace site;
    const uint8_t* p = row.image.data();
    const size_t n = row.image.size();
    int foreign = 0;
    if (row.recordType == 5176 && n == sizeof(DcT)) return ForeignValues(kDcRecord, p, sent);
    if (row.recordType == 5175 && n >= sizeof(AcT)) {
        foreign += ForeignValues(kAcScreen, p, sent);
        for (size_t at = sizeof(AcT); at + sizeof(AcC) <= n; at += sizeof(AcC)) {
            foreign += ForeignValues(kAcChannel, p + at, sent);
        }
    } else if (row.recordType == 5177 && n >= sizeof(RcT)) {
        foreign += ForeignValues(kRcRecord, p, sent);
        for (size_t at = sizeof(RcT); at + sizeof(RcC) <= n; at += sizeof(RcC)) {
            foreign += ForeignValues(kRcModule, p + at, sent);
        }
    }
    return foreign;
}

bool ParseArgs(int argc, char** argv, Args& a) {
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string k = argv[i];
        const char* v = argv[i + 1];
        if (k == "--events") a.events = v;
        else if (k == "--history") a.history = v;
        else if (k == "--fault-free-events") a.faultFreeEvents = v;
        else if (k == "--timeout-ms") a.timeoutMs = std::atof(v);
        else if (k == "--rss-growth-kb") a.rssGrowthKb = std::atof(v);
        else return false;
    }
    return !a.events.empty() && !a.history.empty() && !a.faultFreeEvents.empty();
}
}  // namespace

int main(int argc, char** argv) {
    Args a;
    if (!ParseArgs(argc, argv, a)) {
        std::fprintf(stderr, "usage: trm27k-soak-check --events FILE --history DB "
                             "--fault-free-events FILE --timeout-ms MS [--rss-growth-kb KB]\n");
        return 2;
    }
    a.faultFreeMs = MedianCycleMs(a.faultFreeEvents);
    long cycles = 0, over3 = 0, stalls = 0;
    long rssStart = 0, rssEnd = 0;
    double last = 0, longest = 0, waitedInCycle = 0, longestWorking = 0;
    const double stallMs = 3 * a.faultFreeMs + kNoiseMs;
    for (const Json::Value& e : ReadEvents(a.events)) {
        const std::string kind = e["event"].asString();
        if (kind == "timeout") waitedInCycle += e.get("waited_ms", a.timeoutMs).asDouble();
        if (kind != "cycle") continue;
        const double t = e["t_ms"].asDouble();
        const double length = t - last;
        // Time spent waiting for replies that never came is the fault's, not the poll's.
        const double working = length - waitedInCycle;
        if (cycles > 0) {
            over3 += length > 3 * a.faultFreeMs;
            stalls += working > stallMs;
            longest = std::max(longest, length);
            longestWorking = std::max(longestWorking, working);
        }
        if (++cycles == 10) rssStart = e["rss_kb"].asInt64();
        rssEnd = e["rss_kb"].asInt64();
        last = t;
        waitedInCycle = 0;
    }
    history::HistoryStore store;
    std::string error;
    if (!store.OpenReadOnly(a.history, error)) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return 2;
    }
    const std::set<uint32_t> sent = SentValues();
    std::map<std::string, long> rows;
    long foreign = 0;
    const bool read = store.ForEachImage([&](const history::ImageRow& row) {
        ++rows[std::to_string(row.dataId) + " " + row.device];
        foreign += ForeignInImage(row, sent);
    }, error);
    if (!read) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return 2;
    }
    bool rowsMatch = rows.size() == 5;
    std::printf("cycles completed:            %ld\n", cycles);
    std::printf("cycles over 3x fault-free:   %ld (fault-free %.1f ms, longest %.1f ms)\n", over3,
                a.faultFreeMs, longest);
    std::printf("stalled cycles:              %ld (over %.1f ms once reply timeouts are taken out;"
                " longest %.1f ms)\n", stalls, stallMs, longestWorking);
    for (const auto& [device, n] : rows) {
        std::printf("history rows %-14s %ld\n", device.c_str(), n);
        rowsMatch = rowsMatch && n == cycles;
    }
    std::printf("resident memory:             %ld kB at cycle 10, %ld kB at the end\n", rssStart, rssEnd);
    std::printf("values never sent:           %ld\n", foreign);
    const bool grew = rssEnd - rssStart > a.rssGrowthKb;
    const bool ok = cycles > 0 && stalls == 0 && rowsMatch && !grew && foreign == 0;
    std::printf("%s\n", ok ? "soak: PASS" : "soak: FAIL");
    return ok ? 0 : 1;
}
