#include "agent_module.h"

#include <dlfcn.h>
#include <unistd.h>

#include <climits>

namespace snmp {

namespace {
constexpr const char* kModuleName = "libtrm27k-snmp.so";

std::string BesideProgram(const std::string& name) {
    char self[PATH_MAX];
    const ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
    if (n <= 0) return name;
    const std::string path(self, static_cast<size_t>(n));
    return path.substr(0, path.find_last_of('/') + 1) + name;
}
}  // namespace

// The module stays loaded to the end: net-snmp leaves handlers registered
// with the C library that must not point into unmapped code.
AgentModule::~AgentModule() { agent_.reset(); }

bool AgentModule::Load(const std::string& socket, Reporter report, std::string& error) {
    std::string file = BesideProgram(kModuleName);
    if (::access(file.c_str(), F_OK) != 0) file = BesideProgram(TRM27K_INSTALLED_SNMP_MODULE);
    handle_ = dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle_ == nullptr) {
        error = std::string("--snmp-agentx needs the SNMP module, which cannot be loaded: ") + dlerror();
        return false;
    }
    auto create = reinterpret_cast<CreateAgentFn>(dlsym(handle_, kCreateAgentSymbol));
    if (create == nullptr) {
        error = "the SNMP module " + file + " has no " + kCreateAgentSymbol;
        return false;
    }
    report_ = std::move(report);
    agent_.reset(create(socket.c_str(), &report_));
    return true;
}

}  // namespace snmp
