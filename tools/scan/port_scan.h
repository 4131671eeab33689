#pragma once
// `trm27k-monitor --scan`: lists the serial ports and asks each for the
// device model at the given addresses, so a field engineer finds the power
// system's port without trying them one by one.
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "model_probe.h"

namespace scan {

struct ScanRequest {
    std::vector<std::string> ports;       // named ports; empty: the ports the system lists
    std::vector<uint8_t> addresses{1};
    ProbeTiming timing;
};

// Writes one block per port to `out`: its paths, transport, USB ids and
// description, then one line per address with the model text or why there is
// none. Unnamed ports are probed only when they are USB or platform ports.
// Returns the number of (port, address) pairs that answered with a model.
int RunScan(const ScanRequest& request, std::FILE* out);

}  // namespace scan
