#include "snmp_agent.h"

#include <pthread.h>

#include <fcntl.h>
#include <sys/select.h>
#include <unistd.h>

#include <net-snmp/agent/agent_callbacks.h>

#include <algorithm>
#include <chrono>
#include <cstdio>

#include "alarm_names.h"
#include "local_time.h"

namespace snmp {

namespace {
constexpr const char* kAppName = "trm27k-monitor";
constexpr oid kSnmpTrapOid[] = {1, 3, 6, 1, 6, 3, 1, 1, 4, 1, 0};
// ENTITY-STATE-MIB entStateOperEnabled and entStateOperDisabled, with the
// power system's entStateAdmin and entStateAlarm.
constexpr oid kOperEnabledTrap[] = {1, 3, 6, 1, 2, 1, 131, 0, 1};
constexpr oid kOperDisabledTrap[] = {1, 3, 6, 1, 2, 1, 131, 0, 2};
constexpr oid kChassisAdmin[] = {1, 3, 6, 1, 2, 1, 131, 1, 1, 1, 2, kChassisIndex};
constexpr oid kChassisAlarm[] = {1, 3, 6, 1, 2, 1, 131, 1, 1, 1, 5, kChassisIndex};

int Handle(netsnmp_mib_handler* handler, netsnmp_handler_registration* reg, netsnmp_agent_request_info* info,
           netsnmp_request_info* requests) {
    return static_cast<SnmpAgent*>(handler->myvoid)->Answer(handler, reg, info, requests);
}

// The master agent took or dropped the session (net-snmp's AgentX code
// tells every open and every loss this way).
int Joined(int, int, void*, void* self) {
    static_cast<SnmpAgent*>(self)->TellLink(true);
    return SNMPERR_SUCCESS;
}
int Lost(int, int, void*, void* self) {
    static_cast<SnmpAgent*>(self)->TellLink(false);
    return SNMPERR_SUCCESS;
}

void SetValue(netsnmp_variable_list* var, const Cell& cell) {
    static const oid kZeroDotZero[] = {0, 0};
    switch (cell.type) {
        case ASN_OCTET_STR:
            snmp_set_var_typed_value(var, ASN_OCTET_STR, cell.bytes.data(), cell.bytes.size());
            break;
        case ASN_OBJECT_ID: snmp_set_var_typed_value(var, ASN_OBJECT_ID, kZeroDotZero, sizeof kZeroDotZero); break;
        case ASN_INTEGER: snmp_set_var_typed_value(var, ASN_INTEGER, &cell.number, sizeof cell.number); break;
        default: {
            const u_long v = static_cast<u_long>(cell.number);
            snmp_set_var_typed_value(var, cell.type, &v, sizeof v);
        }
    }
}

std::string RuleKey(const rule_value& rule) {
    return std::to_string(rule.data_id) + '\x1f' + rule.key + '\x1f' + rule.detail;
}

std::string DeviceText(const rule_value& rule) {
    return rule.detail.empty() || rule.detail == rule.name ? rule.name : rule.name + " (" + rule.detail + ")";
}
}  // namespace

SnmpAgent::SnmpAgent(std::string socket, Reporter report) : socket_(std::move(socket)), report_(std::move(report)) {}

SnmpAgent::~SnmpAgent() {
    Stop();
    for (const int fd : wake_) {
        if (fd >= 0) ::close(fd);
    }
}

bool SnmpAgent::Start(std::string& error) {
    if (::pipe2(wake_, O_CLOEXEC | O_NONBLOCK) != 0) {
        error = "cannot start the SNMP agent: no pipe";
        return false;
    }
    thread_ = std::thread([this] {
        pthread_setname_np(pthread_self(), "snmp");  // as top -H and ps -L show it
        Run();
    });
    return true;
}

void SnmpAgent::Stop() {
    if (!thread_.joinable()) return;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stop_ = true;
    }
    const char byte = 0;
    (void)!::write(wake_[1], &byte, 1);
    thread_.join();
}

void SnmpAgent::Post(Item item, const site::SnapshotPtr& snapshot) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        newest_ = snapshot;
        if (item.what != Item::What::None) {
            if (items_.size() >= kEventLimit) {
                items_.pop_front();  // the oldest goes; the table still shows what is active
                ++itemsDropped_;
            }
            items_.push_back(std::move(item));
        }
    }
    const char byte = 0;
    (void)!::write(wake_[1], &byte, 1);  // a full pipe already wakes the thread
}

void SnmpAgent::OnCycle(const site::SnapshotPtr& snapshot) { Post({}, snapshot); }

void SnmpAgent::OnAlarms(const std::vector<site::AlarmEvent>& events, const site::SnapshotPtr& snapshot) {
    for (const site::AlarmEvent& e : events) Post({Item::What::Alarm, e, false}, snapshot);
}

// One notification per power system whose availability flipped; a link
// change while stalled (or a stall while down) changes nothing a manager sees.
void SnmpAgent::OnAvailability(const site::AvailabilityChange& change, const site::SnapshotPtr& snapshot) {
    Post({change.availabilityChanged ? Item::What::Link : Item::What::None, {}, change.Available()}, snapshot);
}

void SnmpAgent::Run() {
    Setup();
    if (!connected_) TellLink(false);
    Serve();
    // net-snmp's shutdown frees the argument of every callback still
    // registered, which here is this agent.
    snmp_unregister_callback(SNMP_CALLBACK_APPLICATION, SNMPD_CALLBACK_INDEX_START, Joined, this, 1);
    snmp_unregister_callback(SNMP_CALLBACK_APPLICATION, SNMPD_CALLBACK_INDEX_STOP, Lost, this, 1);
    snmp_shutdown(kAppName);
}

// A subagent that reads no configuration, loads no MIB files and keeps no
// state on disk: the master agent owns all of it. net-snmp's own log lines go
// nowhere (the agent tells what matters itself); alarms run from the loop,
// never from SIGALRM.
void SnmpAgent::Setup() {
    snmp_disable_log();
    netsnmp_register_loghandler(NETSNMP_LOGHANDLER_NONE, LOG_DEBUG);
    netsnmp_ds_set_string(NETSNMP_DS_LIBRARY_ID, NETSNMP_DS_LIB_MIBDIRS, "");
    netsnmp_ds_set_boolean(NETSNMP_DS_LIBRARY_ID, NETSNMP_DS_LIB_DONT_READ_CONFIGS, 1);
    netsnmp_ds_set_boolean(NETSNMP_DS_LIBRARY_ID, NETSNMP_DS_LIB_DONT_PERSIST_STATE, 1);
    netsnmp_ds_set_boolean(NETSNMP_DS_LIBRARY_ID, NETSNMP_DS_LIB_DISABLE_PERSISTENT_LOAD, 1);
    netsnmp_ds_set_boolean(NETSNMP_DS_LIBRARY_ID, NETSNMP_DS_LIB_DISABLE_PERSISTENT_SAVE, 1);
    netsnmp_ds_set_boolean(NETSNMP_DS_LIBRARY_ID, NETSNMP_DS_LIB_ALARM_DONT_USE_SIG, 1);
    netsnmp_ds_set_boolean(NETSNMP_DS_APPLICATION_ID, NETSNMP_DS_AGENT_ROLE, 1);
    netsnmp_ds_set_string(NETSNMP_DS_APPLICATION_ID, NETSNMP_DS_AGENT_X_SOCKET, socket_.c_str());
    netsnmp_ds_set_int(NETSNMP_DS_APPLICATION_ID, NETSNMP_DS_AGENT_AGENTX_PING_INTERVAL, kPingSeconds);
    snmp_register_callback(SNMP_CALLBACK_APPLICATION, SNMPD_CALLBACK_INDEX_START, Joined, this);
    snmp_register_callback(SNMP_CALLBACK_APPLICATION, SNMPD_CALLBACK_INDEX_STOP, Lost, this);
    init_agent(kAppName);
    for (const Subtree& t : Subtrees()) {
        netsnmp_handler_registration* reg =
            netsnmp_create_handler_registration(kAppName, Handle, t.name, t.length, HANDLER_CAN_RONLY);
        reg->handler->myvoid = this;
        netsnmp_register_handler(reg);
    }
    init_snmp(kAppName);
}

// net-snmp's own wait, plus the pipe the listener calls write to.
void SnmpAgent::Serve() {
    while (true) {
        int fds = 0;
        int block = 0;
        fd_set readable;
        FD_ZERO(&readable);
        timeval timeout{1, 0};
        snmp_select_info(&fds, &readable, &timeout, &block);
        FD_SET(wake_[0], &readable);
        fds = std::max(fds, wake_[0] + 1);
        const int n = ::select(fds, &readable, nullptr, nullptr, &timeout);
        if (n > 0 && FD_ISSET(wake_[0], &readable)) {
            char drain[64];
            while (::read(wake_[0], drain, sizeof drain) > 0) {
            }
            FD_CLR(wake_[0], &readable);
        }
        if (n > 0) snmp_read(&readable);
        if (n == 0) snmp_timeout();
        run_alarms();
        netsnmp_check_outstanding_agent_requests();
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (stop_) return;
        }
        TakeQueued();
    }
}

void SnmpAgent::TakeQueued() {
    std::deque<Item> items;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        items.swap(items_);
        if (newest_) latest_ = newest_;
    }
    for (const Item& item : items) {
        if (item.what == Item::What::Alarm) Notify(item.event);
        if (item.what == Item::What::Link) NotifyLink(item.up);
    }
}

uint32_t SnmpAgent::IndexOf(const rule_value& rule, bool keep) {
    const std::string key = RuleKey(rule);
    auto it = alarmIndex_.find(key);
    const uint32_t index = it != alarmIndex_.end() ? it->second : nextIndex_++;
    if (keep && it == alarmIndex_.end()) alarmIndex_.emplace(key, index);
    if (!keep && it != alarmIndex_.end()) alarmIndex_.erase(it);
    return index;
}

AlarmRow SnmpAgent::RowOf(const rule_value& rule, const std::string& raisedTime, uint32_t index) const {
    return {index, rule.level, DeviceText(rule), site::EnglishName(rule.name, rule.detail),
            tree_.EntityOf(rule.data_id), DateAndTimeOf(raisedTime)};
}

void SnmpAgent::Notify(const site::AlarmEvent& event) {
    Refresh();
    const uint32_t index = IndexOf(event.rule, event.raised);
    oid name[std::size(kEnterpriseRoot) + 2];
    std::copy(std::begin(kEnterpriseRoot), std::end(kEnterpriseRoot), name);
    name[std::size(kEnterpriseRoot)] = 0;
    name[std::size(kEnterpriseRoot) + 1] = event.raised ? 1 : 2;
    netsnmp_variable_list* vars = nullptr;
    snmp_varlist_add_variable(&vars, kSnmpTrapOid, std::size(kSnmpTrapOid), ASN_OBJECT_ID, name, sizeof name);
    AlarmVarbinds(RowOf(event.rule, event.raisedTime, index), &vars);
    send_v2trap(vars);
    snmp_free_varbind(vars);
    shown_.reset();  // the table changed
}

// The line came up or went down, or the poll stalled or resumed: the power
// system's entStateOper changed (the model tells only such flips).
void SnmpAgent::NotifyLink(bool up) {
    Refresh();
    netsnmp_variable_list* vars = nullptr;
    const oid* which = up ? kOperEnabledTrap : kOperDisabledTrap;
    snmp_varlist_add_variable(&vars, kSnmpTrapOid, std::size(kSnmpTrapOid), ASN_OBJECT_ID, which,
                              sizeof kOperEnabledTrap);
    const long admin = 1;  // unknown: the monitor cannot lock the power system
    snmp_varlist_add_variable(&vars, kChassisAdmin, std::size(kChassisAdmin), ASN_INTEGER, &admin, sizeof admin);
    const char bits = static_cast<char>(tree_.states.empty() ? 0 : tree_.states.front().alarmBits);
    snmp_varlist_add_variable(&vars, kChassisAlarm, std::size(kChassisAlarm), ASN_OCTET_STR, &bits, 1);
    send_v2trap(vars);
    snmp_free_varbind(vars);
}

// The view follows the newest snapshot, and at least once a second the clock
// (a child's values go stale without a new snapshot).
void SnmpAgent::Refresh() {
    const int64_t now = site::NowEpochMs();
    if (shown_ && shown_ == latest_ && now - shownAtMs_ < 1000) return;
    if (!latest_) latest_ = std::make_shared<const site::Snapshot>();
    shown_ = latest_;
    shownAtMs_ = now;
    tree_ = BuildTree(*latest_, now);
    std::vector<AlarmRow> alarms;
    for (const site::RuleState& r : latest_->rules) {
        if (r.raisedTime.empty()) continue;
        alarms.push_back(RowOf(r.rule, r.raisedTime, IndexOf(r.rule, true)));
    }
    std::sort(alarms.begin(), alarms.end(), [](const AlarmRow& a, const AlarmRow& b) { return a.index < b.index; });
    const long rateMs = static_cast<long>(latest_->lastCycleSeconds * 1000);
    view_.Build(tree_, alarms, now, static_cast<long>(netsnmp_get_agent_uptime()), rateMs);
}

int SnmpAgent::Answer(netsnmp_mib_handler*, netsnmp_handler_registration* reg, netsnmp_agent_request_info* info,
                      netsnmp_request_info* requests) {
    Refresh();
    const Subtree root{reg->rootoid, reg->rootoid_len};
    for (netsnmp_request_info* r = requests; r != nullptr; r = r->next) {
        if (r->processed) continue;
        netsnmp_variable_list* var = r->requestvb;
        if (info->mode == MODE_GET) {
            const Cell* cell = view_.Find(var->name, var->name_length, false, false, root);
            if (cell == nullptr) {
                netsnmp_set_request_error(info, r, SNMP_NOSUCHINSTANCE);
            } else {
                SetValue(var, *cell);
            }
        } else if (info->mode == MODE_GETNEXT) {
            const Cell* cell = view_.Find(var->name, var->name_length, true, r->inclusive != 0, root);
            if (cell == nullptr) continue;  // past this subtree: the next one answers
            snmp_set_var_objid(var, cell->name.data(), cell->name.size());
            SetValue(var, *cell);
        } else {
            netsnmp_set_request_error(info, r, SNMP_ERR_NOTWRITABLE);
        }
    }
    return SNMP_ERR_NOERROR;
}

void SnmpAgent::TellLink(bool up) {
    if (up == connected_ && (up || lossTold_)) return;
    connected_ = up;
    if (up && lossTold_) {
        std::fprintf(stderr, "%s: joined the SNMP master agent at %s again\n", kAppName, socket_.c_str());
    }
    if (!up) {
        std::fprintf(stderr, "%s: warning: the SNMP master agent at %s cannot be reached; trying again every %d s\n",
                     kAppName, socket_.c_str(), kPingSeconds);
    }
    lossTold_ = !up;
    Json::Value v(Json::objectValue);
    v["state"] = up ? "up" : "down";
    v["socket"] = socket_;
    report_("snmp", std::move(v));
}

}  // namespace snmp

extern "C" __attribute__((visibility("default"))) snmp::Agent* trm27k_snmp_agent_create(
    const char* socket, const snmp::Reporter* report) {
    return new snmp::SnmpAgent(socket, *report);
}
