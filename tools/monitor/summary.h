#pragma once
// The readable per-cycle summary: AC channels and currents, DC voltage and
// current, the number of rectifier modules, and the active alarms.
#include <cstdio>

#include "SMDSPDevice.h"
#include "monitor_controller.h"

namespace monitor {

void PrintSummary(std::FILE* out, long cycle, SMDSPDevice& main, MonitorController& controller);

}  // namespace monitor
