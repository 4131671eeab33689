#pragma once
// Debian's snmpd as the master agent and snmptrapd as its trap sink, each on
// a free loopback UDP port with a scratch configuration, started and stopped
// by process id; and snmpwalk by numeric OID.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <fstream>
#include <map>
#include <memory>
#include <sstream>
#include <string>

#include "Broker.h"
#include "ProcessKit.h"

namespace testing_support {

inline std::string FileText(const std::string& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// A daemon that logs to `log` and says so once it is up.
class Daemon {
public:
    Daemon(std::string dir, std::string name) : dir_(std::move(dir)), name_(std::move(name)) {}
    bool Start(const std::string& program, const std::string& config, const std::string& address) {
        WriteFile(Config(), config);
        std::remove(Log().c_str());
        process_ = std::make_unique<Process>(std::vector<std::string>{program, "-f", "-Lf", Log(), "-C", "-c",
                                                                      Config(), address});
        return process_->Started() &&
               WaitUntil(20, [&] { return FileText(Log()).find("NET-SNMP version") != std::string::npos; });
    }
    void Stop() {
        if (process_) process_->Stop();
        process_.reset();
    }
    std::string Log() const { return dir_ + "/" + name_ + ".log"; }

private:
    std::string Config() const { return dir_ + "/" + name_ + ".conf"; }
    std::string dir_;
    std::string name_;
    std::unique_ptr<Process> process_;
};

// snmpd as master agent: AgentX on a Unix socket in `dir`, notifications to
// a trap sink on `trapPort` (0: none).
class MasterAgent : public Daemon {
public:
    MasterAgent(const std::string& dir, int trapPort) : Daemon(dir, "snmpd"), socket_(dir + "/agentx") {
        config_ = "master agentx\nagentXSocket " + socket_ + "\nagentXPerms 0600 0700\nrocommunity public 127.0.0.1\n";
        if (trapPort != 0) config_ += "trap2sink 127.0.0.1:" + std::to_string(trapPort) + " public\n";
    }
    bool Start() { return Daemon::Start("/usr/sbin/snmpd", config_, "udp:127.0.0.1:" + std::to_string(port_)); }
    int Port() const { return port_; }
    const std::string& Socket() const { return socket_; }

private:
    int port_ = FreePort(SOCK_DGRAM);
    std::string socket_;
    std::string config_;
};

class TrapSink : public Daemon {
public:
    explicit TrapSink(const std::string& dir) : Daemon(dir, "snmptrapd") {}
    bool Start() {
        return Daemon::Start("/usr/sbin/snmptrapd", "disableAuthorization yes\n",
                             "udp:127.0.0.1:" + std::to_string(port_));
    }
    int Port() const { return port_; }

private:
    int port_ = FreePort(SOCK_DGRAM);
};

// snmpwalk of `oid`: each value by its numeric OID, as snmpwalk prints it
// (texts in quotes).
inline std::map<std::string, std::string> Walk(int port, const std::string& oid) {
    std::string text;
    RunCapturing({"/usr/bin/snmpwalk", "-v2c", "-c", "public", "-On", "-Oq", "-Ot", "-Oe", "-r", "1", "-t", "5",
                  "127.0.0.1:" + std::to_string(port), oid},
                 text);
    std::map<std::string, std::string> out;
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line)) {
        const size_t space = line.find(' ');
        if (space == std::string::npos || line[0] != '.') continue;
        const std::string value = line.substr(space + 1);
        if (value.rfind("No Such", 0) != 0) out[line.substr(0, space)] = value;  // nothing there
    }
    return out;
}

}  // namespace testing_support
