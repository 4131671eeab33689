#pragma once
// An AgentX subagent of the system's snmpd: it answers for the entity tables
// and the active-alarm table, and sends a notification per alarm raise and
// clear and per link loss and return, all through the master agent, which
// owns the port, the communities, the users and the trap sinks.
//
// net-snmp is not thread-safe, so every call into it happens on the agent's
// own thread. The model's listener calls only keep the newest snapshot and
// queue alarm events (bounded), then wake that thread; neither the poll nor
// the threshold worker ever waits on the master agent.
#include <atomic>
#include <deque>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

#include "mib_view.h"

#include <net-snmp/agent/net-snmp-agent-includes.h>
#include "snmp_agent_api.h"

namespace snmp {

class SnmpAgent : public Agent {
public:
    SnmpAgent(std::string socket, Reporter report);
    ~SnmpAgent() override;
    SnmpAgent(const SnmpAgent&) = delete;
    SnmpAgent& operator=(const SnmpAgent&) = delete;

    bool Start(std::string& error) override;
    void Stop() override;

    void OnCycle(const site::SnapshotPtr& snapshot) override;
    void OnAlarms(const std::vector<site::AlarmEvent>& events, const site::SnapshotPtr& snapshot) override;
    void OnAvailability(const site::AvailabilityChange& change, const site::SnapshotPtr& snapshot) override;

    // The agent's thread: net-snmp's callbacks come here.
    int Answer(netsnmp_mib_handler* handler, netsnmp_handler_registration* reg,
               netsnmp_agent_request_info* info, netsnmp_request_info* requests);
    void TellLink(bool up);

private:
    static constexpr size_t kEventLimit = 1024;  // items waiting for the agent's thread
    static constexpr int kPingSeconds = 5;       // how soon a restarted snmpd is joined again

    // What the listener calls hand the agent's thread besides the snapshot.
    struct Item {
        enum class What { None, Alarm, Link } what = What::None;
        site::AlarmEvent event;
        bool up = false;  // Link: the line is up and the poll not stalled
    };

    void Post(Item item, const site::SnapshotPtr& snapshot);
    void Run();
    void Setup();
    void Serve();
    void TakeQueued();
    void Notify(const site::AlarmEvent& event);
    void NotifyLink(bool up);
    void Refresh();
    AlarmRow RowOf(const rule_value& rule, const std::string& raisedTime, uint32_t index) const;
    // An alarm's index: kept while `keep`, given up otherwise (its clear).
    uint32_t IndexOf(const rule_value& rule, bool keep);

    std::string socket_;
    Reporter report_;

    std::mutex mutex_;  // newest_, items_, stop_
    site::SnapshotPtr newest_;
    std::deque<Item> items_;
    uint64_t itemsDropped_ = 0;
    bool stop_ = false;
    int wake_[2] = {-1, -1};  // a byte in the pipe wakes the agent's thread
    std::thread thread_;

    // The agent's thread only.
    site::SnapshotPtr latest_;
    site::SnapshotPtr shown_;  // what the view was built from
    int64_t shownAtMs_ = 0;
    EntityTree tree_;
    MibView view_;
    std::map<std::string, uint32_t> alarmIndex_;  // active rules by data id, key and detail
    uint32_t nextIndex_ = 1;
    bool connected_ = false;   // to the master agent
    bool lossTold_ = false;
};

}  // namespace snmp
