#pragma once
// The site as Prometheus text exposition (version 0.0.4): the measured
// values of every child, the state of every alarm rule, availability,
// counters, the cycle-duration histogram and the build.
#include <string>

#include "site_snapshot.h"

namespace http {

// Appends the exposition to `out` (cleared first; its capacity is reused).
void RenderMetrics(const site::Snapshot& snapshot, const std::string& version, std::string& out);

}  // namespace http
