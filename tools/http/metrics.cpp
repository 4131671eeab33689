#include "metrics.h"

#include <chrono>
#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <optional>
#include <string_view>

#include "local_time.h"
#include "metric_table.h"
#include "record_values.h"

namespace http {

namespace {
// Label values escape backslash, double quote and line feed.
void AppendEscaped(std::string& out, std::string_view text) {
    for (const char c : text) {
        if (c == '\\' || c == '"') {
            out += '\\';
            out += c;
        } else if (c == '\n') {
            out += "\\n";
        } else {
            out += c;
        }
    }
}

struct Label {
    const char* name;
    std::string_view value;
};

void Sample(std::string& out, const char* name, std::initializer_list<Label> labels, double value) {
    out += name;
    const char* sep = "{";
    for (const Label& l : labels) {
        if (*l.name == '\0') continue;  // a row's unused label
        out += sep;
        out += l.name;
        out += "=\"";
        AppendEscaped(out, l.value);
        out += '"';
        sep = ",";
    }
    if (*sep == ',') out += '}';
    char text[40];
    if (std::isnan(value)) {
        std::snprintf(text, sizeof text, " NaN\n");
    } else if (std::isinf(value)) {
        std::snprintf(text, sizeof text, value > 0 ? " +Inf\n" : " -Inf\n");
    } else {
        std::snprintf(text, sizeof text, " %.9g\n", value);
    }
    out += text;
}

void Family(std::string& out, const char* name, const char* type, const char* help) {
    out += "# HELP ";
    out += name;
    out += ' ';
    out += help;
    out += "\n# TYPE ";
    out += name;
    out += ' ';
    out += type;
    out += '\n';
}

// The value one row reads from the record at `base`, entry `k` of an array;
// nothing when the record does not hold one.
std::optional<double> RowValue(const MetricRow& row, const site::Field& field, const uint8_t* base, size_t k) {
    if (row.read == Read::Equals) return base[field.offset] == row.match ? 1.0 : 0.0;
    const std::optional<float> v = site::ReadFloat(field, base, k);
    if (!v) return std::nullopt;
    return static_cast<double>(*v);
}

// The samples of one row for one child: one per channel record, or per entry
// of an array field, or one; the index label numbers them from 1.
// With several power systems each series names its `device` too.
const char* DeviceLabel(const site::Snapshot& s) { return s.Several() ? "device" : ""; }

void RowSamples(std::string& out, const site::Snapshot& s, const site::ChildState& child, const MetricRow& row) {
    const site::Layout* layout = site::LayoutOf(row.recordType);
    const auto count = site::ChannelCount(*layout, child.image.data(), child.image.size());
    if (!count) return;
    const bool inChannel = row.part == Part::Channel;
    const site::Field* field = site::FindField(inChannel ? layout->channel : layout->header, row.field);
    const size_t records = inChannel ? *count : 1;
    const size_t entries = row.read == Read::Array ? field->count : 1;
    const std::string id = std::to_string(child.dataId);
    for (size_t r = 0; r < records; ++r) {
        const uint8_t* base = child.image.data() + (inChannel ? layout->headerSize + layout->channelSize * r : 0);
        for (size_t k = 0; k < entries; ++k) {
            const std::optional<double> value = RowValue(row, *field, base, k);
            if (!value) continue;  // not provided: left out
            const std::string index = std::to_string((inChannel ? r : k) + 1);
            Sample(out, row.family,
                   {{"site", s.site}, {DeviceLabel(s), child.system}, {"data_id", id}, {row.indexLabel, index},
                    {row.fixedLabel, row.fixedValue}},
                   *value);
        }
    }
}

// Every sample of one family from the children whose values are current: a
// stale child's series are left out, its last update stays in the timestamp.
void MeasuredFamily(std::string& out, const site::Snapshot& s, int64_t nowMs, size_t first) {
    Family(out, kMetricRows[first].family, "gauge", kMetricRows[first].help);
    for (size_t r = first; r < kMetricRows.size(); ++r) {
        const MetricRow& row = kMetricRows[r];
        if (std::string_view(row.family) != kMetricRows[first].family) break;
        for (const site::ChildState& child : s.children) {
            if (child.recordType == row.recordType && !site::IsStale(child, nowMs)) {
                RowSamples(out, s, child, row);
            }
        }
    }
}

void MeasuredValues(std::string& out, const site::Snapshot& s, int64_t nowMs) {
    for (size_t r = 0; r < kMetricRows.size(); ++r) {
        const bool firstOfFamily =
            r == 0 || std::string_view(kMetricRows[r - 1].family) != kMetricRows[r].family;
        if (firstOfFamily) MeasuredFamily(out, s, nowMs, r);
    }
}

// When each child last published its values, and when the last cycle
// completed: Prometheus takes no timestamps on samples from an exporter.
void Timestamps(std::string& out, const site::Snapshot& s) {
    constexpr const char* kChild = "trm27k_last_update_timestamp_seconds";
    Family(out, kChild, "gauge", "When the child last published its values, seconds since 1970.");
    for (const site::ChildState& child : s.children) {
        Sample(out, kChild, {{"site", s.site}, {DeviceLabel(s), child.system}, {"data_id", std::to_string(child.dataId)}},
               static_cast<double>(child.epochMs) / 1000.0);
    }
    if (s.cycleEpochMs == 0) return;
    constexpr const char* kCycle = "trm27k_last_cycle_timestamp_seconds";
    Family(out, kCycle, "gauge", "When the last poll cycle completed, seconds since 1970.");
    Sample(out, kCycle, {{"site", s.site}}, static_cast<double>(s.cycleEpochMs) / 1000.0);
}

// Only the rules that were active at some time in this run get a series
// (1 while active, 0 once cleared): the catalogue holds hundreds of rules per
// site that are almost never active. The active count per level is always
// there, so a query never depends on a series that has not appeared yet.
void Alarms(std::string& out, const site::Snapshot& s) {
    constexpr int kLevels = 4;
    int active[kLevels + 1] = {};
    Family(out, "trm27k_alarm_active", "gauge", "1 while the alarm rule is active; rules never active are left out.");
    for (const site::RuleState& r : s.rules) {
        if (r.rule.active != 0 && r.rule.level >= 1 && r.rule.level <= kLevels) ++active[r.rule.level];
        if (!r.seenActive) continue;
        Sample(out, "trm27k_alarm_active",
               {{"site", s.site}, {"data_id", std::to_string(r.rule.data_id)}, {"key", r.rule.key},
                {"code", r.rule.code}, {"level", std::to_string(r.rule.level)},
                {"detail", r.rule.detail}},
               r.rule.active != 0 ? 1 : 0);
    }
    Family(out, "trm27k_alarms_active", "gauge", "Active alarm rules by level (1 most severe).");
    for (int level = 1; level <= kLevels; ++level) {
        Sample(out, "trm27k_alarms_active", {{"site", s.site}, {"level", std::to_string(level)}}, active[level]);
    }
}

// One series per power system: a silent or stalled one is down alone.
void PowerSystems(std::string& out, const site::Snapshot& s) {
    constexpr const char* kName = "trm27k_power_system_up";
    Family(out, kName, "gauge", "1 while the power system answers on its line and its poll is not stalled.");
    for (const site::DeviceState& d : s.devices) {
        Sample(out, kName, {{"site", s.site}, {"device", d.name}, {"address", std::to_string(d.address)}},
               d.Available() ? 1 : 0);
    }
}

struct CounterRow {
    const char* name;
    const char* help;
    uint64_t site::Counters::*member;
};

constexpr CounterRow kCounters[] = {
    {"trm27k_cycles_total", "Completed poll cycles.", &site::Counters::cycles},
    {"trm27k_exchanges_total", "Commands sent on the line.", &site::Counters::exchanges},
    {"trm27k_timeouts_total", "Replies that did not come in time.", &site::Counters::timeouts},
    {"trm27k_frame_errors_total", "Replies refused by the frame decoder.", &site::Counters::frameErrors},
    {"trm27k_reconnects_total", "Times the line was opened again.", &site::Counters::reconnects},
    {"trm27k_storage_failures_total", "Writes of the history, the event file or the MQTT outbox that failed.",
     &site::Counters::storageFailures},
    {"trm27k_alarm_command_failures_total", "--on-alarm commands that failed, passed their time limit or could not run.",
     &site::Counters::alarmCommandFailures},
};

void Counters(std::string& out, const site::Snapshot& s) {
    for (const CounterRow& c : kCounters) {
        Family(out, c.name, "counter", c.help);
        Sample(out, c.name, {{"site", s.site}}, static_cast<double>(s.counters.*c.member));
    }
}

void OutboxDropped(std::string& out, const site::Snapshot& s) {
    constexpr const char* kName = "trm27k_outbox_dropped_total";
    Family(out, kName, "counter", "MQTT messages the full outbox gave up, by kind.");
    for (size_t k = 0; k < s.outboxDropped.size(); ++k) {
        Sample(out, kName, {{"site", s.site}, {"kind", site::kOutboxKinds[k]}}, static_cast<double>(s.outboxDropped[k]));
    }
}

void CycleHistogram(std::string& out, const site::Snapshot& s) {
    constexpr const char* kName = "trm27k_cycle_duration_seconds";
    Family(out, kName, "histogram", "Duration of a poll cycle.");
    const site::DurationHistogram& h = s.cycleSeconds;
    uint64_t cumulative = 0;
    char le[24];
    for (size_t k = 0; k < h.kBounds.size(); ++k) {
        cumulative += h.counts[k];
        std::snprintf(le, sizeof le, "%g", h.kBounds[k]);
        Sample(out, "trm27k_cycle_duration_seconds_bucket", {{"site", s.site}, {"le", le}},
               static_cast<double>(cumulative));
    }
    Sample(out, "trm27k_cycle_duration_seconds_bucket", {{"site", s.site}, {"le", "+Inf"}},
           static_cast<double>(h.count));
    Sample(out, "trm27k_cycle_duration_seconds_sum", {{"site", s.site}}, h.sum);
    Sample(out, "trm27k_cycle_duration_seconds_count", {{"site", s.site}}, static_cast<double>(h.count));
}
}  // namespace

void RenderMetrics(const site::Snapshot& s, const std::string& version, std::string& out) {
    RenderMetrics(s, version, site::NowEpochMs(), out);
}

void RenderMetrics(const site::Snapshot& s, const std::string& version, int64_t nowMs, std::string& out) {
    out.clear();
    Family(out, "trm27k_build_info", "gauge", "The monitor's version.");
    Sample(out, "trm27k_build_info", {{"version", version}}, 1);
    if (!s.model.empty()) {
        Family(out, "trm27k_device_info", "gauge", "The power system's model, once a cycle completed.");
        if (!s.Several()) Sample(out, "trm27k_device_info", {{"site", s.site}, {"model", s.model}}, 1);
        for (const site::DeviceState& d : s.devices) {
            if (s.Several() && !d.model.empty()) {
                Sample(out, "trm27k_device_info", {{"site", s.site}, {"device", d.name}, {"model", d.model}}, 1);
            }
        }
    }
    Family(out, "trm27k_up", "gauge", "1 while the line is up and the poll is not stalled.");
    Sample(out, "trm27k_up", {{"site", s.site}}, s.Available() ? 1 : 0);
    Family(out, "trm27k_link_up", "gauge", "1 while the serial line is up.");
    Sample(out, "trm27k_link_up", {{"site", s.site}}, s.linkUp ? 1 : 0);
    if (s.Several()) PowerSystems(out, s);
    if (s.uplink != site::Snapshot::Uplink::None) {
        Family(out, "trm27k_mqtt_connected", "gauge", "1 while the MQTT broker is connected.");
        Sample(out, "trm27k_mqtt_connected", {{"site", s.site}}, s.uplink == site::Snapshot::Uplink::Up ? 1 : 0);
    }
    Family(out, "trm27k_outbox_messages", "gauge", "MQTT messages waiting in the outbox.");
    Sample(out, "trm27k_outbox_messages", {{"site", s.site}}, static_cast<double>(s.outboxMessages));
    Counters(out, s);
    OutboxDropped(out, s);
    CycleHistogram(out, s);
    Timestamps(out, s);
    MeasuredValues(out, s, nowMs);
    Alarms(out, s);
}

}  // namespace http
