#pragma once
// The site as Prometheus text exposition (version 0.0.4): the measured
// values of every child, the state of every alarm rule, availability,
// counters, the cycle-duration histogram and the build.
#include <cstdint>
#include <string>

#include "site_snapshot.h"

namespace http {

// Appends the exposition to `out` (cleared first; its capacity is reused).
// A child whose values are stale at the time of the call has its series left
// out; when it last published stays in its timestamp gauge.
void RenderMetrics(const site::Snapshot& snapshot, const std::string& version, std::string& out);
// The same at `nowEpochMs` (milliseconds since 1970).
void RenderMetrics(const site::Snapshot& snapshot, const std::string& version, int64_t nowEpochMs,
                   std::string& out);

}  // namespace http
