// trm27k-soak-check: judges a soak run of the monitor against the simulator.
//   trm27k-soak-check --events FILE --history DB --timeout-ms MS
//       --fault-free-events FILE (the same monitor without faults)
// Prints the figures and exits 1 when the run shows a stall, a lost history
// row, memory growth, or a saved image that differs from what the
// simulator's replies to that child's commands decode to.
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

// Where a record keeps its 7-byte time stamp: the one part of an image that
// differs between two cycles over the same replies.
size_t TimeOffset(int type) {
    const auto find = [](const auto& table) {
        for (const decode::Field& f : table) {
            if (std::strcmp(f.name, "ttime") == 0) return f.offset;
        }
        return size_t{0};
    };
    return type == 5175 ? find(decode::kAcScreen) : type == 5176 ? find(decode::kDcRecord)
                                                                  : find(decode::kRcRecord);
}

std::string Masked(int type, std::string hex) {
    const size_t at = 2 * TimeOffset(type);
    if (hex.size() >= at + 14) hex.replace(at, 14, 14, '-');
    return hex;
}

// What the simulator sends for each command never changes during a soak, so
// every image decoded from its replies equals one of the fault-free run's
// images of the same child. A reply taken for another command (a late or
// repeated one, or a shifted frame) makes an image found in no clean run.
using ImageKey = std::pair<unsigned, int>;
std::map<ImageKey, std::set<std::string>> ReferenceImages(const std::string& events) {
    std::map<ImageKey, std::set<std::string>> out;
    for (const Json::Value& e : ReadEvents(events)) {
        if (e["event"].asString() != "record") continue;
        const int type = e["type"].asInt();
        out[{e["data_id"].asUInt(), type}].insert(Masked(type, e["image"].asString()));
    }
    return out;
}

std::string Hex(const std::vector<uint8_t>& bytes) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string out;
    for (uint8_t b : bytes) {
        out += kHex[b >> 4];
        out += kHex[b & 0xF];
    }
    return out;
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
        // After a timeout the next commands wait for a quiet line: a
        // first-byte time for a late reply, then up to a gap each for the
        // commands after it (the soak runs with both timeouts equal).
        if (kind == "timeout") {
            waitedInCycle += e.get("waited_ms", a.timeoutMs).asDouble() + 3 * a.timeoutMs;
        }
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
    const auto reference = ReferenceImages(a.faultFreeEvents);
    std::map<std::string, long> rows;
    long wrong = 0;
    const bool read = store.ForEachImage([&](const history::ImageRow& row) {
        ++rows[std::to_string(row.dataId) + " " + row.device];
        const auto known = reference.find({row.dataId, row.recordType});
        wrong += known == reference.end() ||
                 known->second.count(Masked(row.recordType, Hex(row.image))) == 0;
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
    std::printf("images unlike the replies:   %ld (each saved image against the fault-free"
                " images of its child)\n", wrong);
    const bool grew = rssEnd - rssStart > a.rssGrowthKb;
    const bool ok = cycles > 0 && stalls == 0 && rowsMatch && !grew && wrong == 0;
    std::printf("%s\n", ok ? "soak: PASS" : "soak: FAIL");
    return ok ? 0 : 1;
}
