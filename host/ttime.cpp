#include "ttime.h"

ttime_bytes get_ttime(const boost::posix_time::ptime& local) {
    ttime_bytes out{};
    if (local.is_special()) return out;
    const auto date = local.date();
    const auto time = local.time_of_day();
    const unsigned year = static_cast<unsigned>(date.year());
    out[0] = static_cast<uint8_t>(year & 0xFF);
    out[1] = static_cast<uint8_t>(year >> 8);
    out[2] = static_cast<uint8_t>(date.month().as_number());
    out[3] = static_cast<uint8_t>(date.day().as_number());
    out[4] = static_cast<uint8_t>(time.hours());
    out[5] = static_cast<uint8_t>(time.minutes());
    out[6] = static_cast<uint8_t>(time.seconds());
    return out;
}

int64_t host_seconds_since(const boost::posix_time::ptime& since) {
    if (since.is_special()) return INT64_MAX;
    return (host_local_now() - since).total_seconds();
}
