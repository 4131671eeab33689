#include "summary.h"

#include <string>

#include "record_values.h"

namespace summary {

namespace {
// Value `name` of the record at `base`, one decimal, or "—".
std::string ValueText(const site::Table& table, const char* name, const uint8_t* base) {
    const site::Field* field = site::FindField(table, name);
    const std::optional<float> value = field ? site::ReadFloat(*field, base) : std::nullopt;
    if (!value) return "—";
    char text[32];
    std::snprintf(text, sizeof text, "%.1f", *value);
    return text;
}

void PrintAc(std::FILE* out, const site::ChildState& child, const site::Layout& layout, size_t count) {
    const uint8_t* image = child.image.data();
    std::fprintf(out, "  AC %u:", child.dataId);
    for (size_t k = 0; k < count; ++k) {
        const uint8_t* ch = image + layout.headerSize + layout.channelSize * k;
        std::fprintf(out, " [ch%zu %s/%s/%s V %s Hz]", k, ValueText(layout.channel, "a", ch).c_str(),
                     ValueText(layout.channel, "b", ch).c_str(),
                     ValueText(layout.channel, "c", ch).c_str(),
                     ValueText(layout.channel, "f", ch).c_str());
    }
    std::fprintf(out, " I %s/%s/%s A\n", ValueText(layout.header, "ia", image).c_str(),
                 ValueText(layout.header, "ib", image).c_str(),
                 ValueText(layout.header, "ic", image).c_str());
}

void PrintChild(std::FILE* out, const site::ChildState& child) {
    const site::Layout* layout = site::LayoutOf(child.recordType);
    if (layout == nullptr) return;
    const auto count = site::ChannelCount(*layout, child.image.data(), child.image.size());
    if (!count) return;  // an image that does not fit its layout is not shown
    switch (child.recordType) {
        case 5175: PrintAc(out, child, *layout, *count); break;
        case 5176:
            std::fprintf(out, "  DC %u: %s V %s A\n", child.dataId,
                         ValueText(layout->header, "v", child.image.data()).c_str(),
                         ValueText(layout->header, "i", child.image.data()).c_str());
            break;
        default: std::fprintf(out, "  rectifiers: %zu modules\n", *count); break;
    }
}
}  // namespace

void PrintSummary(std::FILE* out, long cycle, const site::Snapshot& snapshot) {
    std::fprintf(out, "cycle %ld %s\n", cycle, snapshot.cycleTime.c_str());
    if (!snapshot.Several()) {
        for (const site::ChildState& child : snapshot.children) PrintChild(out, child);
    }
    // With several power systems, each under its name and state.
    for (const site::DeviceState& d : snapshot.Several() ? snapshot.devices : std::vector<site::DeviceState>()) {
        std::fprintf(out, " %s (address %d%s%s): %s\n", d.name.c_str(), d.address, d.port.empty() ? "" : " on ",
                     d.port.c_str(), !d.linkUp ? "down" : d.stalled ? "stalled" : "up");
        for (const site::ChildState& child : snapshot.children) {
            if (child.system == d.name) PrintChild(out, child);
        }
    }
    bool any = false;
    for (const site::RuleState& r : snapshot.rules) any = any || r.rule.active != 0;
    std::fprintf(out, "  alarms: %s\n", any ? "" : "none");
    for (const site::RuleState& r : snapshot.rules) {
        if (r.rule.active == 0) continue;
        std::fprintf(out, "    [%u %s %s] %s %s\n", r.rule.data_id, r.rule.key.c_str(),
                     r.rule.code.c_str(), r.rule.name.c_str(), r.rule.detail.c_str());
    }
    std::fflush(out);
}

}  // namespace summary
