#pragma once
#include "host_api.h"
// Device factories a plug-in hands to the host through get_providers.
#include <memory>
#include <vector>

class SMDSPDevice;

class HOST_API Provider {
public:
    virtual ~Provider() = default;
};

class HOST_API SMDSPDeviceProvider : public Provider {
public:
    ~SMDSPDeviceProvider() override = default;
    // A new device; the caller takes ownership.
    virtual SMDSPDevice* create() const = 0;
};

using ProviderList = std::vector<std::shared_ptr<Provider>>;
// The one symbol a plug-in exports.
extern "C" ProviderList get_providers();
using GetProvidersFn = ProviderList (*)();
