#include "restore.h"

#include <cstdlib>
#include <ctime>

#include <spdlog/spdlog.h>

namespace monitor {

namespace {
// Seconds from a saved local time ("2026-12-08T16:05:09") to now; false when
// the text is no such time.
bool AgeSeconds(const std::string& localTime, long& age) {
    std::tm tm{};
    const char* end = strptime(localTime.c_str(), "%Y-%m-%dT%H:%M:%S", &tm);
    if (end == nullptr || *end != '\0') return false;
    tm.tm_isdst = -1;
    const std::time_t saved = std::mktime(&tm);
    if (saved == static_cast<std::time_t>(-1)) return false;
    age = static_cast<long>(std::difftime(std::time(nullptr), saved));
    return true;
}

// A threshold as the children read it: the text form, converted like atof.
void ReadThreshold(const Json::Value& app, const char* key, float& out) {
    const Json::Value& v = app[key];
    if (v.isNumeric()) out = v.asFloat();
    if (v.isString()) out = static_cast<float>(std::atof(v.asCString()));
}
}  // namespace

void RestoreImages(history::HistoryStore& store, SMDSPDevice& device) {
    const auto log = spdlog::get("trm27k");
    for (const auto& child : device.GetAllChildVDevices()) {
        history::ImageRow row;
        if (!store.LatestImage(child->DataId(), child->DeviceType(), row)) continue;
        long age = 0;
        if (!AgeSeconds(row.time, age) || age < 0 || age >= kRestoreMaxAgeSeconds) {
            log->info("restore {} {}: the saved image is {} s old (saved {}), skipped; queries "
                      "wait for the first cycle", child->DeviceType(), child->DataId(), age, row.time);
            continue;
        }
        const bool taken = child->LoadFromCache(row.image.data(), static_cast<int>(row.image.size()));
        log->info("restore {} {}: {} bytes, {} s old, {}", child->DeviceType(), child->DataId(),
                  row.image.size(), age, taken ? "taken" : "refused");
    }
}

RecorderSettings RecorderSettingsFor(const Options& options) {
    RecorderSettings s;
    s.changesOnly = options.historyRows == "changes";
    s.commitCycles = static_cast<int>(options.historyCommit);
    s.retainDays = static_cast<int>(options.retainDays);
    for (const char* list : {"acSetting", "dcSetting"}) {
        for (const Json::Value& entry : options.device[list]) {
            ChangeThresholds t;
            const Json::Value& app = entry["appSetting"];
            if (app.isObject()) {
                ReadThreshold(app, "diff_v", t.diffV);
                ReadThreshold(app, "diff_i", t.diffI);
            }
            s.thresholds[entry["data_id"].asUInt()] = t;
        }
    }
    return s;
}

}  // namespace monitor
