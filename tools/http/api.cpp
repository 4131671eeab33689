#include "api.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <iterator>

#include "alarm_names.h"
#include "local_time.h"
#include "record_values.h"
#include "rule_json.h"

namespace http {

namespace {
Json::Value RuleJson(const site::RuleState& r) {
    Json::Value v = site::RuleJson(r.rule);
    v["name_en"] = site::EnglishName(r.rule.name, r.rule.detail);
    v["raised"] = r.raisedTime;
    return v;
}

Answer Bad(int status, const std::string& reason) {
    Answer a;
    a.status = status;
    a.body["error"] = reason;
    return a;
}

const std::string* Param(const std::multimap<std::string, std::string>& params, const char* name) {
    auto it = params.find(name);
    return it == params.end() ? nullptr : &it->second;
}

// A non-negative decimal number that fits `max`, nothing else.
bool ParseCount(const std::string& text, unsigned long max, unsigned long& out) {
    if (text.empty() || text.size() > 10 ||
        !std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; })) {
        return false;
    }
    out = std::strtoul(text.c_str(), nullptr, 10);
    return out <= max;
}

// The parts of a time bound that its text holds: where each starts, and the
// values it may take (the day is checked against its month below).
struct TimePart {
    size_t at;
    int least, most;
};
constexpr TimePart kTimeParts[] = {{0, 1970, 9999}, {5, 1, 12}, {8, 1, 31}, {11, 0, 23}, {14, 0, 59}, {17, 0, 59}};

int TwoOrFourDigits(const std::string& text, size_t at) {
    const size_t width = at == 0 ? 4 : 2;
    return std::atoi(text.substr(at, width).c_str());
}

// A time bound: a local time ("2026-12-08T16:05:09"), the same with a zone
// ("...Z", "...+01:00"), or a local prefix ending with a whole part
// ("2026-12-08"); every part a real one: no month 0, no 31 April, no hour 24.
bool IsTimeBound(const std::string& whole) {
    constexpr const char* kShape = "dddd-dd-ddTdd:dd:dd";
    std::time_t ignored = 0;
    if (whole.size() > 19 && !site::ParseIsoTime(whole, ignored)) return false;
    const std::string text = whole.substr(0, 19);
    if (text.size() < 19 && text.size() % 3 != 1) return false;  // 4, 7, 10, 13 or 16 characters
    for (size_t k = 0; k < text.size(); ++k) {
        const bool digit = text[k] >= '0' && text[k] <= '9';
        if (kShape[k] == 'd' ? !digit : text[k] != kShape[k]) return false;
    }
    int values[std::size(kTimeParts)] = {};
    for (size_t p = 0; p < std::size(kTimeParts); ++p) {
        const TimePart& part = kTimeParts[p];
        if (text.size() < part.at + (part.at == 0 ? 4 : 2)) break;
        values[p] = TwoOrFourDigits(text, part.at);
        if (values[p] < part.least || values[p] > part.most) return false;
    }
    if (values[2] == 0) return true;  // no day given
    static constexpr int kDays[] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const bool leap = values[0] % 4 == 0 && (values[0] % 100 != 0 || values[0] % 400 == 0);
    return values[2] <= (values[1] == 2 && !leap ? 28 : kDays[values[1] - 1]);
}

// A bound given as a prefix, made a whole time at the start of what it names.
std::string WholeTimeBound(const std::string& text) {
    constexpr const char* kStart = "1970-01-01T00:00:00";
    return text.size() >= 19 ? text : text + (kStart + text.size());
}

// Where a field path points in an image: the field, and the record's offset.
struct FieldAt {
    const site::Field* field = nullptr;
    size_t channel = 0;
    bool inChannel = false;
};

bool ResolveField(const site::Layout& layout, const std::string& path, FieldAt& out) {
    const size_t dot = path.find('.');
    if (dot == std::string::npos) {
        out.field = site::FindField(layout.header, path.c_str());
        return out.field != nullptr;
    }
    const size_t second = path.find('.', dot + 1);
    unsigned long channel = 0;
    if (layout.channelsName == nullptr || path.compare(0, dot, layout.channelsName) != 0 ||
        second == std::string::npos || !ParseCount(path.substr(dot + 1, second - dot - 1), 255, channel)) {
        return false;
    }
    out.field = site::FindField(layout.channel, path.c_str() + second + 1);
    out.channel = channel;
    out.inChannel = true;
    return out.field != nullptr;
}

// The value at `at` in one image: a number, an array for an array field, or
// null when the image has no such channel or did not provide it.
Json::Value ValueAt(const site::Layout& layout, const FieldAt& at, const std::vector<uint8_t>& image) {
    Json::Value record;
    if (!site::RecordJson(layout, image.data(), image.size(), record)) return Json::Value();
    if (!at.inChannel) return record[at.field->name];
    const Json::Value& channels = record[layout.channelsName];
    if (at.channel >= channels.size()) return Json::Value();
    return channels[static_cast<Json::ArrayIndex>(at.channel)][at.field->name];
}

// Seconds from an epoch time to now, measured on the monitor's clock so a
// reader needs no clock of its own; null for a moment that never came.
Json::Value AgeSeconds(int64_t epochMs) {
    if (epochMs == 0) return Json::Value();
    return Json::Value(static_cast<double>(std::max<int64_t>(0, site::NowEpochMs() - epochMs)) / 1000.0);
}

// A child as the page shows it: its newest values (those not provided left
// out, null inside an array), how old they are and whether they are stale.
Json::Value ChildJson(const site::ChildState& child, int64_t nowMs) {
    Json::Value j(Json::objectValue);
    j["data_id"] = child.dataId;
    j["device"] = child.device;
    j["system"] = child.system;
    j["type"] = child.recordType;
    j["time"] = child.time;
    j["seq"] = static_cast<Json::UInt64>(child.seq);
    j["age_s"] = static_cast<Json::Int64>(site::AgeSeconds(child, nowMs));
    j["stale"] = site::IsStale(child, nowMs);
    const site::Layout* layout = site::LayoutOf(child.recordType);
    if (layout != nullptr) site::RecordJson(*layout, child.image.data(), child.image.size(), j["values"]);
    return j;
}

// A power system: where it is polled, its model and whether it answers.
Json::Value DeviceJson(const site::DeviceState& d) {
    Json::Value j(Json::objectValue);
    j["name"] = d.name;
    j["data_id"] = d.dataId;
    j["address"] = d.address;
    j["port"] = d.port;
    j["model"] = d.model;
    j["cycles"] = static_cast<Json::UInt64>(d.cycles);
    j["link_up"] = d.linkUp;
    j["stalled"] = d.stalled;
    j["availability_age_s"] = AgeSeconds(d.availabilityEpochMs);
    return j;
}

}  // namespace

Json::Value StateJson(const site::Snapshot& s) {
    Json::Value v(Json::objectValue);
    v["site"] = s.site;
    v["model"] = s.model;
    v["seq"] = static_cast<Json::UInt64>(s.seq);
    v["time"] = s.cycleTime;
    v["cycle_seconds"] = s.lastCycleSeconds;
    v["cycle_age_s"] = AgeSeconds(s.cycleEpochMs);
    v["link_up"] = s.linkUp;
    v["stalled"] = s.stalled;
    v["availability_age_s"] = AgeSeconds(s.availabilityEpochMs);
    if (s.uplink != site::Snapshot::Uplink::None) v["mqtt_connected"] = s.uplink == site::Snapshot::Uplink::Up;
    Json::Value& c = v["counters"];
    c["cycles"] = static_cast<Json::UInt64>(s.counters.cycles);
    c["exchanges"] = static_cast<Json::UInt64>(s.counters.exchanges);
    c["timeouts"] = static_cast<Json::UInt64>(s.counters.timeouts);
    c["frame_errors"] = static_cast<Json::UInt64>(s.counters.frameErrors);
    c["reconnects"] = static_cast<Json::UInt64>(s.counters.reconnects);
    c["storage_failures"] = static_cast<Json::UInt64>(s.counters.storageFailures);
    c["outbox_messages"] = static_cast<Json::UInt64>(s.outboxMessages);
    for (size_t k = 0; k < s.outboxDropped.size(); ++k) {
        c["outbox_dropped"][site::kOutboxKinds[k]] = static_cast<Json::UInt64>(s.outboxDropped[k]);
    }
    v["devices"] = Json::Value(Json::arrayValue);
    for (const site::DeviceState& d : s.devices) v["devices"].append(DeviceJson(d));
    v["children"] = Json::Value(Json::arrayValue);
    const int64_t nowMs = site::NowEpochMs();
    for (const site::ChildState& child : s.children) v["children"].append(ChildJson(child, nowMs));
    return v;
}

Json::Value AlarmsJson(const site::Snapshot& s) {
    Json::Value v(Json::objectValue);
    v["site"] = s.site;
    v["seq"] = static_cast<Json::UInt64>(s.seq);
    v["active"] = Json::Value(Json::arrayValue);
    for (const site::RuleState& r : s.rules) {
        if (r.rule.active != 0) v["active"].append(RuleJson(r));
    }
    return v;
}

Answer HistoryAnswer(history::HistoryReader* reader,
                     const std::multimap<std::string, std::string>& params, int maxRows) {
    const std::string* dataId = Param(params, "data_id");
    const std::string* field = Param(params, "field");
    const std::string* since = Param(params, "since");
    const std::string* until = Param(params, "until");
    const std::string* limitText = Param(params, "limit");
    const std::string* stepText = Param(params, "step");
    unsigned long step = 0;
    unsigned long id = 0;
    unsigned long limit = static_cast<unsigned long>(maxRows);
    for (const char* name : {"data_id", "field", "since", "until", "limit", "step"}) {
        if (params.count(name) > 1) return Bad(400, std::string(name) + " is given more than once");
    }
    if (dataId == nullptr || !ParseCount(*dataId, 0xFFFFFFFFul, id)) return Bad(400, "data_id must be a number");
    if (field == nullptr || field->empty() || field->size() > 64) return Bad(400, "field is required");
    if ((since && !IsTimeBound(*since)) || (until && !IsTimeBound(*until))) {
        return Bad(400, "since and until are times like 2026-12-08T16:05:09 (local), with Z or an offset, or a day");
    }
    if (limitText && (!ParseCount(*limitText, static_cast<unsigned long>(maxRows), limit) || limit == 0)) {
        return Bad(400, "limit must be 1 to " + std::to_string(maxRows));
    }
    if (stepText && !ParseCount(*stepText, 86400, step)) return Bad(400, "step must be 0 to 86400 seconds");
    if (reader == nullptr) return Bad(404, "no history database");
    std::vector<history::ImageRow> rows;
    if (!reader->Images(static_cast<unsigned int>(id), since ? WholeTimeBound(*since) : "",
                        until ? WholeTimeBound(*until) : "",
                        static_cast<int>(limit), rows, static_cast<int>(step))) {
        return Bad(503, "the history cannot be read now");
    }
    Answer a;
    a.body["data_id"] = static_cast<Json::UInt>(id);
    a.body["field"] = *field;
    a.body["rows"] = Json::Value(Json::arrayValue);
    for (const history::ImageRow& row : rows) {
        const site::Layout* layout = site::LayoutOf(row.recordType);
        FieldAt at;
        if (layout == nullptr || !ResolveField(*layout, *field, at)) return Bad(404, "no field " + *field);
        if (*at.field->unit != '\0') a.body["unit"] = at.field->unit;
        Json::Value r(Json::objectValue);
        r["time"] = row.time;
        r["value"] = ValueAt(*layout, at, row.image);
        a.body["rows"].append(std::move(r));
    }
    a.body["complete"] = rows.size() < limit;
    return a;
}

Json::Value RecentAlarmsJson(history::HistoryReader* reader, int limit) {
    Json::Value out(Json::arrayValue);
    std::vector<history::AlarmRow> rows;
    if (reader == nullptr || !reader->RecentAlarms(limit, rows)) return out;
    for (const history::AlarmRow& row : rows) {
        Json::Value r(Json::objectValue);
        r["time"] = row.time;
        r["state"] = row.state;
        r["data_id"] = row.dataId;
        r["device"] = row.device;
        r["level"] = row.level;
        r["key"] = row.key;
        r["code"] = row.code;
        r["name"] = row.name;
        r["detail"] = row.detail;
        r["name_en"] = site::EnglishName(row.name, row.detail);
        out.append(std::move(r));
    }
    return out;
}

}  // namespace http
