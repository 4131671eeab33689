#include "summary.h"

#include <stdexcept>
#include <string>

namespace monitor {

namespace {
constexpr int kRectifierRecord = 5177;
constexpr size_t kModuleCountOffset = 245;

// A value by key, or the failure text in its place.
std::string ValueText(const SMDVDevice& device, const std::string& key) {
    try {
        char text[32];
        std::snprintf(text, sizeof text, "%.1f", device.Get_Value(0, key));
        return text;
    } catch (const std::out_of_range& e) {
        return e.what();
    }
}

bool HasChannel(const SMDVDevice& device, int k) {
    try {
        device.Get_Value(0, "channel_" + std::to_string(k) + "_a");
        return true;
    } catch (const std::out_of_range&) {
        return false;
    }
}

void PrintAc(std::FILE* out, const SMDVDevice& ac) {
    std::fprintf(out, "  AC %u:", ac.DataId());
    for (int k = 0; HasChannel(ac, k); ++k) {
        const std::string ch = "channel_" + std::to_string(k) + "_";
        std::fprintf(out, " [ch%d %s/%s/%s V %s Hz]", k, ValueText(ac, ch + "a").c_str(),
                     ValueText(ac, ch + "b").c_str(), ValueText(ac, ch + "c").c_str(),
                     ValueText(ac, ch + "f").c_str());
    }
    std::fprintf(out, " I %s/%s/%s A\n", ValueText(ac, "ia").c_str(), ValueText(ac, "ib").c_str(),
                 ValueText(ac, "ic").c_str());
}
}  // namespace

void PrintSummary(std::FILE* out, long cycle, SMDSPDevice& main, MonitorController& controller) {
    std::fprintf(out, "cycle %ld %s\n", cycle, LocalIsoTime().c_str());
    for (const auto& child : main.GetAllChildVDevices()) {
        const std::string& type = child->DeviceType();
        if (type == "trm27k-ac") {
            PrintAc(out, *child);
        } else if (type == "trm27k-dc") {
            std::fprintf(out, "  DC %u: %s V %s A\n", child->DataId(), ValueText(*child, "v").c_str(),
                         ValueText(*child, "i").c_str());
        }
    }
    const auto image = controller.LatestImage(main.DataId(), kRectifierRecord);
    if (image.size() > kModuleCountOffset) {
        std::fprintf(out, "  rectifiers: %u modules\n", image[kModuleCountOffset]);
    }
    controller.Drain();  // the cycle's rules are evaluated on the worker
    const auto alarms = controller.ActiveAlarms();
    std::fprintf(out, "  alarms: %s\n", alarms.empty() ? "none" : "");
    for (const rule_value& a : alarms) {
        std::fprintf(out, "    [%u %s %s] %s %s\n", a.data_id, a.key.c_str(), a.code.c_str(),
                     a.name.c_str(), a.detail.c_str());
    }
    std::fflush(out);
}

}  // namespace monitor
