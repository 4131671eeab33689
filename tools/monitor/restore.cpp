#include "restore.h"

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

}  // namespace monitor
