#pragma once
// The local time texts the monitor writes: "2026-12-08T16:05:09".
#include <ctime>
#include <string>

namespace site {

std::string LocalIsoTime();
std::string LocalIsoTimeAt(std::time_t when);

}  // namespace site
