#pragma once
// The SNMP output as the monitor sees it: a listener of the site model with a
// start and a stop. It lives in its own shared module (libtrm27k-snmp.so), so
// that net-snmp and what it pulls in (OpenSSL among others) are loaded only
// when --snmp-agentx asks for them; the monitor finds the module through
// AgentModule (agent_module.h).
#include <functional>
#include <string>

#include <json/json.h>

#include "site_model.h"

namespace snmp {

// Tells the model what happened to the output, as its Report does.
using Reporter = std::function<void(const char* kind, Json::Value fields)>;

class Agent : public site::SiteListener {
public:
    // Starts the agent's thread, which joins the master agent at `socket`; a
    // master agent that is not there yet is no error: the agent keeps trying.
    virtual bool Start(std::string& error) = 0;
    virtual void Stop() = 0;
};

// The module's one entry point: a new agent for the master agent at `socket`
// (as net-snmp writes it: a Unix socket path or tcp:HOST:PORT). One agent per
// process: net-snmp's state is global.
using CreateAgentFn = Agent* (*)(const char* socket, const Reporter* report);
constexpr const char* kCreateAgentSymbol = "trm27k_snmp_agent_create";

}  // namespace snmp
