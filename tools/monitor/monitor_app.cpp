#include "monitor_app.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include <spdlog/sinks/stdout_sinks.h>
#include <spdlog/spdlog.h>

#include "PMBusProtocol.h"
#include "poll_loop.h"
#include "restore.h"
#include "serial_port.h"
#include "service_status.h"
#include "summary.h"

namespace monitor {

MonitorApp::~MonitorApp() {
    if (controller_) controller_->Drain();
    StopOutputs();
    simulator_.Stop();
    device_.reset();
    controller_.reset();
}

int MonitorApp::Fail(int status, const std::string& reason) {
    std::fprintf(stderr, "trm27k-monitor: %s\n", reason.c_str());
    return status;
}

// The summary keeps the original standard output; the plug-in's own output
// lines go to standard error or a file, so they never garble it.
bool MonitorApp::SetUpOutput() {
    const int original = ::fcntl(STDOUT_FILENO, F_DUPFD_CLOEXEC, 0);
    if (original < 0) return false;
    summary_ = std::make_unique<SummaryWriter>(original);
    std::fflush(stdout);
    int target = STDERR_FILENO;
    // "--log-level off" silences the plug-in's own lines too, unless they
    // were sent to a file of their own.
    const bool silent = options_.logLevel == "off" && options_.pluginStdout == "-";
    if (options_.pluginStdout != "-" || silent) {
        const char* path = silent ? "/dev/null" : options_.pluginStdout.c_str();
        target = ::open(path, O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (target < 0) return false;
    }
    ::dup2(target, STDOUT_FILENO);
    if (target != STDERR_FILENO) ::close(target);
    return true;
}

void MonitorApp::SetUpLogging() {
    auto logger = spdlog::stderr_logger_mt("trm27k");
    logger->set_pattern("%Y-%m-%d %H:%M:%S [%l] %v");
    logger->set_level(spdlog::level::from_str(options_.logLevel));
    controller_->SetLogSink([this, logger](const host::LogLine& line) {
        logger->warn("{}", line.text);
        controller_->NoteLogLine(line.text);
        Json::Value v(Json::objectValue);
        v["text"] = line.text;
        events_.Write("log", std::move(v));
    });
}

int MonitorApp::CreateDevice() {
    const Json::Value& config = options_.device;
    std::string error;
    if (!plugin_.Load(options_.plugin, error)) return Fail(1, error);
    device_ = plugin_.CreateMain(error);
    if (!device_) return Fail(1, error);
    if (dynamic_cast<PMBusProtocol*>(device_.get()) == nullptr) {
        return Fail(1, "the plug-in's main device is not a serial protocol device");
    }
    const Json::Value& id = config["data_id"];
    if (!id.isNull() && !id.isUInt()) return Fail(2, "\"data_id\" must be a non-negative integer");
    device_->Init(controller_, id.asUInt(), config);
    if (!device_->InitSetting(config)) return Fail(2, "the plug-in refused the configuration");
    return 0;
}

namespace {
mqtt::MqttSettings MqttSettingsOf(const Options& o) {
    mqtt::MqttSettings s;
    mqtt::ParseBroker(o.mqtt, s);  // checked with the options
    s.clientId = o.mqttClientId;
    s.user = o.mqttUser;
    s.passwordFile = o.mqttPasswordFile;
    s.caFile = o.mqttCa;
    s.prefix = o.mqttPrefix;
    s.site = o.site;
    s.discovery = !o.noMqttDiscovery;
    s.discoveryPrefix = o.mqttDiscoveryPrefix;
    s.heartbeatSeconds = static_cast<int>(o.mqttHeartbeat);
    s.outboxMaxMb = static_cast<double>(o.outboxMaxMb);
    return s;
}
}  // namespace

// The change thresholds of the children, for report by exception.
void MonitorApp::SetChangeThresholds(const Json::Value& config) {
    const std::pair<const char*, int> lists[] = {{"acSetting", 5175}, {"dcSetting", 5176}};
    for (const auto& [name, type] : lists) {
        const Json::Value& list = config[name];
        if (!list.isArray()) continue;
        for (const Json::Value& entry : list) {
            if (entry.isObject() && entry["data_id"].isUInt()) {
                model_->SetThresholds(entry["data_id"].asUInt(), type, site::ThresholdsOf(type, entry));
            }
        }
    }
}

// The alarms that were active when the last run stopped, so that their clear
// is reported after a restart.
void MonitorApp::RestoreAlarms() {
    std::vector<site::RuleState> active;
    for (const history::ActiveAlarm& row : store_.ActiveAlarms()) {
        site::RuleState r;
        r.rule.level = static_cast<uint8_t>(row.level);
        r.rule.key = row.key;
        r.rule.code = row.code;
        r.rule.name = row.name;
        r.rule.detail = row.detail;
        r.rule.data_id = row.dataId;
        r.rule.active = 1;
        r.raisedTime = row.time;
        active.push_back(std::move(r));
    }
    model_->RestoreRules(active);
}

// MQTT and HTTP read the model; neither can hold up the poll.
int MonitorApp::StartOutputs() {
    std::string error;
    if (!options_.mqtt.empty()) {
        const mqtt::MqttSettings settings = MqttSettingsOf(options_);
        mqtt_ = std::make_unique<mqtt::MqttOutput>(*model_, settings, cli::Version());
        if (!options_.history.empty()) {
            // A history file: the outbox commits with it, cycle by cycle.
            mqtt::MqttOutput* out = mqtt_.get();
            mqtt_->StageWithHistory();
            store_.AddCommitHook([out](sqlite3* db, std::string& e) { return out->StageWithin(db, e); },
                                 [out](bool committed) { out->AfterCommit(committed); });
        }
        if (!mqtt_->Start(options_.history, error)) return Fail(2, error);
        model_->StartSequenceAt(mqtt_->LastSeq());
        model_->AddListener(mqtt_.get());
    }
    if (!options_.http.empty()) {
        http::HttpSettings settings;
        if (!http::ParseListen(options_.http, settings)) return Fail(2, "bad --http address: " + options_.http);
        settings.version = cli::Version();
        settings.historyPath = options_.history;
        settings.authUser = options_.httpUser;
        settings.authHash = options_.httpPasswordHash;
        http_ = std::make_unique<http::HttpServer>(*model_, settings);
        if (!http_->Start(error)) return Fail(2, error);
    }
    return 0;
}

void MonitorApp::StopOutputs() {
    if (http_) http_->Stop();
    if (mqtt_) mqtt_->Stop();
}

void MonitorApp::AnswerQueries() {
    for (const Query& q : options_.queries) {
        Json::Value v(Json::objectValue);
        v["data_id"] = q.dataId;
        v["key"] = q.key;
        std::string answer;
        const auto child = device_->GetChildVDevice(q.dataId);
        try {
            if (!child) throw std::out_of_range("no such child");
            const float value = child->Get_Value(0, q.key);
            v["value"] = value;
            char text[32];
            std::snprintf(text, sizeof text, "%g", value);
            answer = text;
        } catch (const std::out_of_range& e) {
            v["error"] = e.what();
            answer = e.what();
        }
        events_.Write("value", v);
        summary_->Write("  " + std::to_string(q.dataId) + ":" + q.key + " = " + answer + "\n");
    }
}

// The summary is put together in memory and handed to the writer, which
// never blocks the poll.
void MonitorApp::WriteSummary(long cycle) {
    char* text = nullptr;
    size_t size = 0;
    std::FILE* out = ::open_memstream(&text, &size);
    if (out == nullptr) return;
    PrintSummary(out, cycle, *model_->Current());
    std::fclose(out);
    summary_->Write(std::string(text, size));
    std::free(text);
}

// A port another program holds is refused at once: two pollers on one line
// would take each other's replies.
int MonitorApp::OpenLine(std::string& path) {
    std::string error;
    path = options_.port;
    if (path.empty() && !simulator_.Start(!options_.fast, path, error)) {
        return Fail(1, error);
    }
    const auto* protocol = dynamic_cast<PMBusProtocol*>(device_.get());
    const int fd = tools::OpenSerialPort(path, protocol->BaudRate(), error);
    if (fd < 0) return Fail(1, error);
    line_ = std::make_shared<LineTransport>();
    line_->Attach(fd);
    controller_->SetTransport(line_);
    return 0;
}

int MonitorApp::Poll(const std::string& path, const std::atomic<bool>& stop) {
    auto& protocol = dynamic_cast<PMBusProtocol&>(*device_);
    PollSettings settings;
    settings.firstByteMs = static_cast<int>(options_.firstByteMs);
    settings.gapMs = static_cast<int>(options_.gapMs);
    settings.baud = protocol.BaudRate();
    settings.shortGate = options_.fast;
    settings.markReady = !options_.fullPoll;
    settings.exitOnLoss = options_.exitOnLoss;
    settings.cycles = options_.cycles;
    settings.port = path;
    PollLoop loop(protocol, *line_, *controller_, events_, settings);
    loop.OnExchangeEnd([this, &loop](bool answered) {
        notifier_.Progress();
        SetServiceLink(answered ? "up" : "without reply", loop.Stats().cycles);
    });
    loop.OnLineWait([this, &loop] {
        notifier_.Progress();
        SetServiceLink("down", loop.Stats().cycles);
    });
    const bool ok = loop.Run(stop, [this](long cycle) {
        controller_->EndCycle();
        if (!options_.quiet) WriteSummary(cycle);
        AnswerQueries();
        TellService(cycle);
    });
    if (ok) notifier_.Stopping();
    controller_->Drain();
    recorder_->Flush(controller_->ActiveAlarmRows());
    tools::CloseSerialPort(line_->Fd());
    line_->Attach(-1);
    if (!ok) return Fail(1, "the line was lost");
    return StorageStatus();
}

// Whatever could not be written makes the exit status 3, so a service
// manager sees it even though the poll went on.
int MonitorApp::StorageStatus() {
    if (recorder_->Lost() == 0 && events_.Lost() == 0) return 0;
    return Fail(3, std::to_string(recorder_->Lost()) + " history rows and " +
                       std::to_string(events_.Lost()) + " event lines could not be written");
}

// With --cycles 0 the history is only read: a missing file is no history,
// and nothing is created or changed.
bool MonitorApp::OpenHistory(std::string& error) {
    if (options_.cycles != 0) return store_.Open(options_.history, error);
    if (options_.history == ":memory:" || ::access(options_.history.c_str(), F_OK) != 0) return true;
    return store_.OpenReadOnly(options_.history, error);
}

EventFileSettings MonitorApp::EventSettings() const {
    EventFileSettings s;
    s.maxBytes = static_cast<uint64_t>(options_.eventsMaxMb) << 20;
    s.keep = static_cast<int>(options_.eventsKeep);
    s.omit = options_.eventsOmit;
    return s;
}

// The line `systemctl status` shows: cycles, the line, the active alarms.
// The service status line changes only when the link does, not per exchange.
void MonitorApp::SetServiceLink(const char* link, long cycle) {
    if (link_ == link) return;
    link_ = link;
    TellService(cycle);
}

void MonitorApp::TellService(long cycle) {
    if (!notifier_.Active()) return;
    service::ServiceState state;
    state.cycles = cycle;
    state.link = link_;
    for (const rule_value& alarm : controller_->ActiveAlarms()) state.alarms.push_back(alarm.name);
    notifier_.Status(service::StatusLine(state));
}

int MonitorApp::Run(const std::atomic<bool>& stop) {
    std::string error;
    if (!SetUpOutput()) {
        return Fail(2, "cannot write the plug-in's output to " + options_.pluginStdout + ": " +
                           std::strerror(errno));
    }
    if (!options_.simScenario.empty() && !simulator_.LoadScenario(options_.simScenario, error)) {
        return Fail(2, error);
    }
    if (!events_.Open(options_.events, error, EventSettings())) return Fail(2, error);
    if (!OpenHistory(error)) {
        Json::Value v(Json::objectValue);
        v["target"] = "history";
        v["state"] = "refused";
        v["reason"] = error;
        events_.Write("storage", std::move(v));
        return Fail(2, error);
    }
    recorder_ = std::make_unique<HistoryRecorder>(store_, events_, RecorderSettingsFor(options_));
    model_ = std::make_unique<site::SiteModel>(options_.site);
    controller_ = std::make_shared<MonitorController>(events_, *recorder_, *model_, options_.fast,
                                                      options_.eventsRules == "all");
    SetUpLogging();
    if (const int status = CreateDevice()) return status;
    RestoreImages(store_, *device_);
    controller_->RestoreAlarms(store_.ActiveAlarms());
    SetChangeThresholds(options_.device);
    RestoreAlarms();
    if (options_.cycles == 0) {
        AnswerQueries();
        return 0;
    }
    if (const int status = StartOutputs()) return status;
    std::string path;
    if (const int status = OpenLine(path)) return status;
    model_->SetLink(true);
    notifier_.Ready("configured, polling " + (options_.port.empty() ? "the built-in simulator" : options_.port));
    const int status = Poll(path, stop);
    model_->SetLink(false);
    return status;
}

}  // namespace monitor
