#include "scan_command.h"

#include "port_scan.h"

namespace monitor {

int RunPortScan(const Options& options, std::FILE* out) {
    scan::ScanRequest request;
    if (!options.port.empty()) request.ports.push_back(options.port);
    if (!options.addresses.empty()) {
        request.addresses.assign(options.addresses.begin(), options.addresses.end());
    }
    request.timing.firstByteMs = static_cast<int>(options.firstByteMs);
    request.timing.gapMs = static_cast<int>(options.gapMs);
    return scan::RunScan(request, out) > 0 ? 0 : 1;
}

}  // namespace monitor
