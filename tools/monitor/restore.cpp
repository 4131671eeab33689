#include "restore.h"

#include <ctime>

#include <spdlog/spdlog.h>

#include "local_time.h"

namespace monitor {

namespace {
// Seconds from a saved time to now, compared as instants, so neither a
// change of zone nor a daylight-saving fall-back makes an old image look
// new; false when the text is no time.
bool AgeSeconds(const std::string& savedTime, long& age) {
    std::time_t saved = 0;
    if (!site::ParseIsoTime(savedTime, saved)) return false;
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
