#pragma once
// `trm27k-monitor --scan`: the port scan with the monitor's own settings (the
// port it names, its reply timeouts). Exit status 0 when a device answered
// with its model, 1 when none did.
#include <cstdio>

#include "options.h"

namespace monitor {

int RunPortScan(const Options& options, std::FILE* out);

}  // namespace monitor
