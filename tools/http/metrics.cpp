#include "metrics.h"

#include <cinttypes>
#include <cmath>
#include <cstdio>

#include "metric_table.h"
#include "record_values.h"

namespace http {

namespace {
// Label values escape backslash, double quote and line feed.
void AppendEscaped(std::string& out, const std::string& text) {
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
    std::string value;
};

void Sample(std::string& out, const char* name, std::initializer_list<Label> labels, double value) {
    out += name;
    const char* sep = "{";
    for (const Label& l : labels) {
        out += sep;
        out += l.name;
        out += "=\"";
        AppendEscaped(out, l.value);
        out += '"';
        sep = ",";
    }
    if (labels.size() != 0) out += '}';
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

// Every sample of one family, walking the metric table's rows for it.
void MeasuredFamily(std::string& out, const site::Snapshot& s, const MetricRow& first) {
    Family(out, first.family, "gauge", first.help);
    for (const MetricRow& row : kMetricRows) {
        if (std::string_view(row.family) != first.family) continue;
        const site::Layout* layout = site::LayoutOf(row.recordType);
        for (const site::ChildState& child : s.children) {
            if (child.recordType != row.recordType) continue;
            const auto count = site::ChannelCount(*layout, child.image.data(), child.image.size());
            if (!count) continue;
            const std::string id = std::to_string(child.dataId);
            const bool inChannel = row.part == Part::Channel;
            const site::Field* field = site::FindField(inChannel ? layout->channel : layout->header, row.field);
            for (size_t k = 0; k < (inChannel ? *count : 1); ++k) {
                const uint8_t* base = child.image.data() + (inChannel ? layout->headerSize + layout->channelSize * k : 0);
                const auto value = site::ReadFloat(*field, base);
                if (!value) continue;  // not provided: left out
                if (inChannel && *row.phase != '\0') {
                    Sample(out, row.family, {{"site", s.site}, {"data_id", id}, {"channel", std::to_string(k)}, {"phase", row.phase}}, *value);
                } else if (inChannel) {
                    Sample(out, row.family, {{"site", s.site}, {"data_id", id}, {"channel", std::to_string(k)}}, *value);
                } else if (*row.phase != '\0') {
                    Sample(out, row.family, {{"site", s.site}, {"data_id", id}, {"phase", row.phase}}, *value);
                } else {
                    Sample(out, row.family, {{"site", s.site}, {"data_id", id}}, *value);
                }
            }
        }
    }
}

void MeasuredValues(std::string& out, const site::Snapshot& s) {
    for (size_t r = 0; r < kMetricRows.size(); ++r) {
        const bool firstOfFamily =
            r == 0 || std::string_view(kMetricRows[r - 1].family) != kMetricRows[r].family;
        if (firstOfFamily) MeasuredFamily(out, s, kMetricRows[r]);
    }
}

// One series per rule: the key alone repeats per channel or fuse, the detail
// tells those apart.
void Alarms(std::string& out, const site::Snapshot& s) {
    Family(out, "trm27k_alarm_active", "gauge", "1 while the alarm rule is active.");
    for (const site::RuleState& r : s.rules) {
        Sample(out, "trm27k_alarm_active",
               {{"site", s.site}, {"data_id", std::to_string(r.rule.data_id)}, {"key", r.rule.key},
                {"code", r.rule.code}, {"level", std::to_string(r.rule.level)},
                {"detail", r.rule.detail}},
               r.rule.active != 0 ? 1 : 0);
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
    out.clear();
    Family(out, "trm27k_build_info", "gauge", "The monitor's version.");
    Sample(out, "trm27k_build_info", {{"version", version}}, 1);
    Family(out, "trm27k_up", "gauge", "1 while the line is up and the poll is not stalled.");
    Sample(out, "trm27k_up", {{"site", s.site}}, s.Available() ? 1 : 0);
    Family(out, "trm27k_link_up", "gauge", "1 while the serial line is up.");
    Sample(out, "trm27k_link_up", {{"site", s.site}}, s.linkUp ? 1 : 0);
    if (s.uplink != site::Snapshot::Uplink::None) {
        Family(out, "trm27k_mqtt_connected", "gauge", "1 while the MQTT broker is connected.");
        Sample(out, "trm27k_mqtt_connected", {{"site", s.site}}, s.uplink == site::Snapshot::Uplink::Up ? 1 : 0);
    }
    Family(out, "trm27k_outbox_messages", "gauge", "MQTT messages waiting in the outbox.");
    Sample(out, "trm27k_outbox_messages", {{"site", s.site}}, static_cast<double>(s.outboxMessages));
    Counters(out, s);
    OutboxDropped(out, s);
    CycleHistogram(out, s);
    MeasuredValues(out, s);
    Alarms(out, s);
}

}  // namespace http
