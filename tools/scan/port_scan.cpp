#include "port_scan.h"

#include <unistd.h>

#include "port_list.h"

namespace scan {

namespace {

void PrintPort(const PortInfo& port, std::FILE* out) {
    std::fprintf(out, "%s\n", port.path.c_str());
    if (!port.byId.empty()) std::fprintf(out, "  by-id        %s\n", port.byId.c_str());
    std::fprintf(out, "  transport    %s", port.transport.c_str());
    if (port.usbVendor >= 0) std::fprintf(out, " %04x:%04x", port.usbVendor, port.usbProduct);
    std::fprintf(out, "\n");
    if (!port.description.empty()) std::fprintf(out, "  description  %s\n", port.description.c_str());
}

// One line per address; true when it answered with a model.
bool PrintProbe(uint8_t address, const ProbeResult& r, std::FILE* out) {
    std::fprintf(out, "  address %-4u ", address);
    switch (r.outcome) {
        case ProbeOutcome::Model:
            std::fprintf(out, "model \"%s\"\n", r.model.c_str());
            return true;
        case ProbeOutcome::Refused:
            std::fprintf(out, "answers with RTN 0x%02X (no model)\n", r.rtn);
            return false;
        case ProbeOutcome::NoAnswer:
            std::fprintf(out, "no answer within %ld ms", r.waitedMs);
            if (r.frameErrors > 0) std::fprintf(out, " (%d broken frames: wrong baud rate or noise?)", r.frameErrors);
            std::fprintf(out, "\n");
            return false;
        case ProbeOutcome::LineError:
            std::fprintf(out, "line error: %s\n", r.error.c_str());
            return false;
    }
    return false;
}

int ProbePort(const PortInfo& port, const ScanRequest& request, std::FILE* out) {
    std::string error;
    const int fd = OpenForProbe(port.path, request.timing.baud, error);
    if (fd < 0) {
        std::fprintf(out, "  not probed   %s\n", error.c_str());
        return 0;
    }
    int found = 0;
    for (const uint8_t address : request.addresses) {
        const ProbeResult result = ProbeModel(fd, address, request.timing);
        if (PrintProbe(address, result, out)) ++found;
        std::fflush(out);
        if (result.outcome == ProbeOutcome::LineError) break;
    }
    ::close(fd);
    return found;
}

}  // namespace

int RunScan(const ScanRequest& request, std::FILE* out) {
    const bool named = !request.ports.empty();
    std::vector<PortInfo> ports;
    if (named) {
        for (const std::string& path : request.ports) ports.push_back(DescribePort(path));
    } else {
        ports = ListPorts();
    }
    if (ports.empty()) std::fprintf(out, "no serial ports found; name a port to probe it\n");
    int found = 0;
    for (const PortInfo& port : ports) {
        PrintPort(port, out);
        if (!named && !ProbeAllowedUnnamed(port)) {
            std::fprintf(out, "  not probed   not a USB or platform port; name it to probe it\n");
            continue;
        }
        found += ProbePort(port, request, out);
    }
    std::fprintf(out, "%d device%s answered on %zu port%s\n", found, found == 1 ? "" : "s",
                 ports.size(), ports.size() == 1 ? "" : "s");
    return found;
}

}  // namespace scan
