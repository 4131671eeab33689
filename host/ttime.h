#pragma once
#include "host_api.h"
// The host's 7-byte time stamp, copied verbatim into telemetry records:
// year (16-bit, least significant byte first), month, day, hour, minute, second.
#include <array>
#include <cstdint>
#include <boost/date_time/posix_time/posix_time_types.hpp>

using ttime_bytes = std::array<uint8_t, 7>;

HOST_API ttime_bytes get_ttime(const boost::posix_time::ptime& local);

// Current local time at one-second resolution, the clock every device uses.
inline boost::posix_time::ptime host_local_now() {
    return boost::posix_time::second_clock::local_time();
}

// Whole seconds from `since` to now; negative when the clock was set back.
HOST_API int64_t host_seconds_since(const boost::posix_time::ptime& since);
