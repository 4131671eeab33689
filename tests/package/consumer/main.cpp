// Loads the installed plug-in the way a monitoring host does and creates its
// main device; frames a command with the host library's codec. Exit 0 when
// both work.
#include <dlfcn.h>

#include <cstdio>
#include <string>

#include "Provider.h"
#include "SMDSPDevice.h"
#include "pmbus_frame.h"

int main() {
    std::string frame;
    host::EncodeFrame(0x21, 1, 0x40, 0x51, nullptr, 0, frame);
    if (frame != "~210140510000FDB2\r") {
        std::fprintf(stderr, "consumer: unexpected frame %s\n", frame.c_str());
        return 1;
    }
    void* plugin = dlopen(TRM27K_PLUGIN, RTLD_NOW | RTLD_LOCAL);
    if (plugin == nullptr) {
        std::fprintf(stderr, "consumer: %s\n", dlerror());
        return 1;
    }
    auto entry = reinterpret_cast<GetProvidersFn>(dlsym(plugin, "get_providers"));
    ProviderList providers = entry != nullptr ? entry() : ProviderList{};
    auto* factory = providers.empty() ? nullptr : dynamic_cast<SMDSPDeviceProvider*>(providers[0].get());
    SMDSPDevice* device = factory != nullptr ? factory->create() : nullptr;
    if (device == nullptr) {
        std::fprintf(stderr, "consumer: the plug-in created no main device\n");
        return 1;
    }
    std::printf("consumer: %s from %s\n", device->DeviceType().c_str(), TRM27K_PLUGIN);
    delete device;
    providers.clear();
    dlclose(plugin);
    return 0;
}
