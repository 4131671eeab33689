#pragma once
// The monitor's run from start to stop: the site model, its listeners (the
// event file, the history, MQTT, HTTP, the summary and the service status)
// wired from the options, the plug-in's device and the poll that feeds the
// model. Exit status: 0 clean stop, 1 lost line or plug-in failure, 2 bad
// arguments, configuration or history file, 3 history rows or event lines
// that could not be written.
#include <atomic>
#include <cstdio>
#include <memory>
#include <mutex>
#include <vector>

#include "alarm_command.h"
#include "builtin_sim.h"
#include "event_log.h"
#include "history_recorder.h"
#include "history_store.h"
#include "http_server.h"
#include "line_transport.h"
#include "log_limiter.h"
#include "monitor_controller.h"
#include "mqtt_output.h"
#include "agent_module.h"
#include "options.h"
#include "plugin_loader.h"
#include "service_notifier.h"
#include "service_status_output.h"
#include "summary_output.h"
#include "syslog_output.h"

namespace monitor {

class MonitorApp {
public:
    explicit MonitorApp(const Options& options) : options_(options) {}
    ~MonitorApp();
    int Run(const std::atomic<bool>& stop);

private:
    // One power system: its controller, the plug-in's main device for it,
    // and the line it is polled on.
    struct PowerSystem {
        SystemConfig config;
        std::shared_ptr<MonitorController> controller;
        std::shared_ptr<SMDSPDevice> device;
        size_t bus = 0;
    };
    // One line with its power systems, polled by a thread of its own.
    struct Bus {
        std::string port;  // as configured; empty: the built-in simulator
        std::string path;  // what is opened
        std::shared_ptr<LineTransport> line;
        std::vector<size_t> systems;
    };

    int Fail(int status, const std::string& reason);
    bool SetUpSummary();
    void SetUpLogging(MonitorController& controller);
    int CreateSystem(PowerSystem& system);
    void AssignBuses();
    int OpenEvents();
    int OpenHistory();
    bool HasHistoryFile() const;
    int CreateDevice();
    void RestoreAlarms();
    int StartOutputs();
    void StartAlarmNotices();
    int StartMqtt();
    int StartHttp();
    int StartSnmp();
    void StopOutputs();
    void AnswerQueries(const Bus* bus = nullptr);
    int OpenLines();
    bool PollBus(Bus& bus, const std::atomic<bool>& stop);
    int Poll(const std::atomic<bool>& stop);
    void DrainAll();
    int StorageStatus();

    Options options_;
    std::unique_ptr<site::SiteModel> model_;  // outlives the controller and the listeners
    events::EventLog events_;
    history::HistoryStore store_;
    std::unique_ptr<history::HistoryRecorder> recorder_;
    std::unique_ptr<summary::SummaryOutput> summary_;  // to the original standard output
    std::unique_ptr<mqtt::MqttOutput> mqtt_;
    std::unique_ptr<http::HttpServer> http_;
    snmp::AgentModule snmp_;
    service::ServiceNotifier notifier_;  // no-op unless started by systemd
    std::unique_ptr<service::ServiceStatusOutput> serviceStatus_;
    std::unique_ptr<alarm_command::AlarmCommandOutput> alarmCommand_;
    std::unique_ptr<syslog_output::SyslogOutput> syslog_;
    Plugin plugin_;  // before the devices: unloaded after they are gone
    LogLimiter logLimiter_;  // the plug-in's log lines, on the threads that make them
    std::vector<PowerSystem> systems_;
    std::vector<Bus> buses_;
    std::atomic<long> siteCycles_{0};
    std::atomic<bool> halt_{false};  // one line ended: the others stop too
    BuiltinSimulator simulator_;
};

}  // namespace monitor
