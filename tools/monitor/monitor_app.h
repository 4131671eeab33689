#pragma once
// The monitor's run from start to stop. Exit status: 0 clean stop, 1 lost
// line or plug-in failure, 2 bad arguments, configuration or history file,
// 3 history rows or event lines that could not be written.
#include <atomic>
#include <cstdio>
#include <memory>

#include "builtin_sim.h"
#include "event_log.h"
#include "history_recorder.h"
#include "history_store.h"
#include "http_server.h"
#include "line_transport.h"
#include "monitor_controller.h"
#include "mqtt_output.h"
#include "options.h"
#include "plugin_loader.h"
#include "service_notifier.h"
#include "summary_writer.h"

namespace monitor {

class MonitorApp {
public:
    explicit MonitorApp(const Options& options) : options_(options) {}
    ~MonitorApp();
    int Run(const std::atomic<bool>& stop);

private:
    int Fail(int status, const std::string& reason);
    bool SetUpOutput();
    void SetUpLogging();
    int CreateDevice();
    bool OpenHistory(std::string& error);
    EventFileSettings EventSettings() const;
    int StorageStatus();
    void SetChangeThresholds(const Json::Value& config);
    void RestoreAlarms();
    int StartOutputs();
    void StopOutputs();
    void AnswerQueries();
    void WriteSummary(long cycle);
    int OpenLine(std::string& path);
    int Poll(const std::string& path, const std::atomic<bool>& stop);
    void SetServiceLink(const char* link, long cycle);
    void TellService(long cycle);

    Options options_;
    std::unique_ptr<SummaryWriter> summary_;  // to the original standard output
    EventLog events_;
    history::HistoryStore store_;
    std::unique_ptr<site::SiteModel> model_;  // outlives the controller and the outputs
    std::unique_ptr<mqtt::MqttOutput> mqtt_;
    std::unique_ptr<http::HttpServer> http_;
    std::unique_ptr<HistoryRecorder> recorder_;  // before the controller, which feeds it
    Plugin plugin_;  // before the devices: unloaded after they are gone
    std::shared_ptr<MonitorController> controller_;
    std::shared_ptr<LineTransport> line_;
    std::shared_ptr<SMDSPDevice> device_;
    BuiltinSimulator simulator_;
    service::ServiceNotifier notifier_;  // no-op unless started by systemd
    std::string link_ = "up";            // for the service status line
};

}  // namespace monitor
