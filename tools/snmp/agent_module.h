#pragma once
// Finds and loads the SNMP module (libtrm27k-snmp.so) for --snmp-agentx:
// beside the program in the build tree, in the plug-in folder once installed.
// Without --snmp-agentx nothing of it, nor of net-snmp, is loaded.
#include <memory>
#include <string>

#include "snmp_agent_api.h"

namespace snmp {

class AgentModule {
public:
    AgentModule() = default;
    ~AgentModule();
    AgentModule(const AgentModule&) = delete;
    AgentModule& operator=(const AgentModule&) = delete;

    // Loads the module and makes its agent for the master agent at `socket`;
    // false, with the reason, when the module is missing or not ours.
    bool Load(const std::string& socket, Reporter report, std::string& error);
    Agent* Get() const { return agent_.get(); }

private:
    void* handle_ = nullptr;
    Reporter report_;
    std::unique_ptr<Agent> agent_;
};

}  // namespace snmp
