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
// The one symbol a plug-in exports. C linkage lets the host find it by its
// plain name; host and plug-in are both C++ built against this header, so the
// C++ return type is safe and clang's warning about it does not apply here.
#if defined(__clang__)
#pragma clang diagnostic push
#pragma clang diagnostic ignored "-Wreturn-type-c-linkage"
#endif
extern "C" ProviderList get_providers();
#if defined(__clang__)
#pragma clang diagnostic pop
#endif
using GetProvidersFn = ProviderList (*)();
