#pragma once
// Loads the plug-in with dlopen and creates its main device through the
// first provider it hands out.
#include <memory>
#include <string>

#include "Provider.h"
#include "SMDSPDevice.h"

namespace monitor {

class Plugin {
public:
    ~Plugin();
    // Loads `path` (empty: libtrm27k.so next to this program).
    bool Load(const std::string& path, std::string& error);
    // A new main device from the first provider, or nullptr with a reason.
    std::shared_ptr<SMDSPDevice> CreateMain(std::string& error);

private:
    void* handle_ = nullptr;
    ProviderList providers_;
};

}  // namespace monitor
