#include "port_list.h"

#include <libserialport.h>

#include <filesystem>
#include <map>
#include <system_error>

namespace scan {

namespace fs = std::filesystem;

namespace {

// The canonical device node behind every /dev/serial/by-id link.
std::map<std::string, std::string> ByIdLinks() {
    std::map<std::string, std::string> links;
    std::error_code ec;
    const fs::path dir("/dev/serial/by-id");
    for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
        std::error_code resolved;
        const fs::path target = fs::canonical(it->path(), resolved);
        if (!resolved) links.emplace(target.string(), it->path().string());
    }
    return links;
}

std::string ByIdFor(const std::string& path, const std::map<std::string, std::string>& links) {
    std::error_code ec;
    const fs::path target = fs::canonical(path, ec);
    if (ec) return "";
    const auto found = links.find(target.string());
    return found == links.end() ? "" : found->second;
}

const char* TransportText(sp_transport transport) {
    switch (transport) {
        case SP_TRANSPORT_NATIVE: return "native";
        case SP_TRANSPORT_USB: return "usb";
        case SP_TRANSPORT_BLUETOOTH: return "bluetooth";
    }
    return "unknown";
}

PortInfo FromSp(const sp_port* port, const std::map<std::string, std::string>& links) {
    PortInfo info;
    info.path = sp_get_port_name(port);
    info.byId = ByIdFor(info.path, links);
    const sp_transport transport = sp_get_port_transport(port);
    info.transport = TransportText(transport);
    if (transport == SP_TRANSPORT_USB &&
        sp_get_port_usb_vid_pid(port, &info.usbVendor, &info.usbProduct) != SP_OK) {
        info.usbVendor = info.usbProduct = -1;
    }
    if (const char* text = sp_get_port_description(port)) info.description = text;
    return info;
}

}  // namespace

std::vector<PortInfo> ListPorts() {
    std::vector<PortInfo> ports;
    sp_port** list = nullptr;
    if (sp_list_ports(&list) != SP_OK) return ports;
    const auto links = ByIdLinks();
    for (sp_port** p = list; *p != nullptr; ++p) ports.push_back(FromSp(*p, links));
    sp_free_port_list(list);
    return ports;
}

PortInfo DescribePort(const std::string& path) {
    const auto links = ByIdLinks();
    sp_port* port = nullptr;
    if (sp_get_port_by_name(path.c_str(), &port) != SP_OK) {
        PortInfo info;
        info.path = path;
        info.byId = ByIdFor(path, links);
        info.transport = "unknown (not a port the system lists)";
        return info;
    }
    PortInfo info = FromSp(port, links);
    info.path = path;  // as named, not as libserialport rewrote it
    sp_free_port(port);
    return info;
}

bool ProbeAllowedUnnamed(const PortInfo& port) {
    return port.transport == "usb" || port.transport == "native";
}

}  // namespace scan
