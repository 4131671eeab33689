#include "plugin_loader.h"

#include <dlfcn.h>
#include <unistd.h>

#include <climits>

namespace monitor {

namespace {
std::string BesideProgram(const char* name) {
    char self[PATH_MAX];
    const ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
    if (n <= 0) return name;
    std::string path(self, static_cast<size_t>(n));
    return path.substr(0, path.find_last_of('/') + 1) + name;
}
}  // namespace

Plugin::~Plugin() {
    providers_.clear();  // the providers' code lives in the library
    if (handle_ != nullptr) dlclose(handle_);
}

bool Plugin::Load(const std::string& path, std::string& error) {
    // Next to the program in the build tree; in the plug-in folder under the
    // library folder once installed (TRM27K_INSTALLED_PLUGIN is relative to
    // the program's folder, so a moved or unpacked installation still works).
    std::string file = path;
    if (file.empty()) {
        file = BesideProgram("libtrm27k.so");
        if (::access(file.c_str(), F_OK) != 0) file = BesideProgram(TRM27K_INSTALLED_PLUGIN);
    }
    handle_ = dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle_ == nullptr) {
        error = std::string("cannot load the plug-in: ") + dlerror();
        return false;
    }
    auto entry = reinterpret_cast<GetProvidersFn>(dlsym(handle_, "get_providers"));
    if (entry == nullptr) {
        error = "the plug-in " + file + " has no get_providers";
        return false;
    }
    providers_ = entry();
    return true;
}

std::shared_ptr<SMDSPDevice> Plugin::CreateMain(std::string& error) {
    auto* factory =
        providers_.empty() ? nullptr : dynamic_cast<SMDSPDeviceProvider*>(providers_[0].get());
    if (factory == nullptr) {
        error = "the plug-in hands out no device provider";
        return nullptr;
    }
    return std::shared_ptr<SMDSPDevice>(factory->create());
}

}  // namespace monitor
