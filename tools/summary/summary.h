#pragma once
// The readable per-cycle summary, a reader of the site model like the other
// outputs: AC channels and currents, DC voltage and current, the number of
// rectifier modules, and the active alarms. A value the power system did not
// provide shows as "—".
#include <cstdio>

#include "site_snapshot.h"

namespace summary {

void PrintSummary(std::FILE* out, long cycle, const site::Snapshot& snapshot);

}  // namespace summary
