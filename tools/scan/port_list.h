#pragma once
// The serial ports of this machine as libserialport sees them, with the
// stable /dev/serial/by-id path that follows a USB adapter from one ttyUSB
// number to the next.
#include <string>
#include <vector>

namespace scan {

struct PortInfo {
    std::string path;         // /dev/ttyUSB0
    std::string byId;         // /dev/serial/by-id/usb-...; empty when there is none
    std::string transport;    // "usb", "native", "bluetooth", or "unknown"
    int usbVendor = -1;       // -1 when not a USB port
    int usbProduct = -1;
    std::string description;  // libserialport's description, e.g. the USB product text
};

// Every port libserialport reports, in its order. Empty when it reports none
// (or cannot list them).
std::vector<PortInfo> ListPorts();

// What is known of one named port. A port libserialport does not know (a
// pseudo-terminal, say) is described by its path alone.
PortInfo DescribePort(const std::string& path);

// Whether a port that the user did not name may be written to: only USB
// adapters and the board's own (platform) UARTs. A Bluetooth serial port
// would open a radio link, so it is listed but never probed unasked.
bool ProbeAllowedUnnamed(const PortInfo& port);

}  // namespace scan
