#include "monitor_app.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include <spdlog/sinks/stdout_sinks.h>
#include <spdlog/spdlog.h>

#include "PMBusProtocol.h"
#include "float_json.h"
#include "poll_loop.h"
#include "restore.h"
#include "serial_port.h"

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
bool MonitorApp::SetUpSummary() {
    const int original = ::fcntl(STDOUT_FILENO, F_DUPFD_CLOEXEC, 0);
    if (original < 0) return false;
    summary_ = std::make_unique<summary::SummaryOutput>(std::make_unique<summary::SummaryWriter>(original),
                                                        !options_.quiet);
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
    // Standard error tells a repeated line once a minute with its count;
    // the event file keeps every line.
    controller_->SetLogSink([this, logger](const host::LogLine& line) {
        controller_->NoteLogLine(line.text);
        uint64_t held = 0;
        if (logLimiter_.Pass(line.text, LogLimiter::Clock::now(), held)) {
            if (held > 0) {
                logger->warn("{} (and {} times more in the last minute)", line.text, held);
            } else {
                logger->warn("{}", line.text);
            }
        }
        Json::Value v(Json::objectValue);
        v["text"] = line.text;
        model_->Report("log", std::move(v));
    });
}

// A failing event file is counted where every counter is, once per run of
// failures; the file tells how many lines were lost when it writes again.
int MonitorApp::OpenEvents() {
    events::EventFileSettings s;
    s.maxBytes = static_cast<uint64_t>(options_.eventsMaxMb) << 20;
    s.keep = static_cast<int>(options_.eventsKeep);
    s.omit = options_.eventsOmit;
    std::string error;
    if (!events_.Open(options_.events, error, s)) return Fail(2, error);
    if (!events_.IsOpen()) return 0;
    events_.OnFailure([this](const std::string& reason) {
        Json::Value v(Json::objectValue);
        v["target"] = "events";
        v["state"] = "failed";
        v["reason"] = reason;
        model_->Report("storage", std::move(v));
    });
    model_->AddListener(&events_);
    return 0;
}

bool MonitorApp::HasHistoryFile() const {
    return !options_.history.empty() && options_.history != ":memory:";
}

// Without a history file there is no history: the model holds the newest
// values and the alarm state, and nothing grows. With --cycles 0 the history
// is only read: a missing file is no history, and nothing is created.
int MonitorApp::OpenHistory() {
    if (!HasHistoryFile()) return 0;
    std::string error;
    const bool readOnly = options_.cycles == 0;
    if (readOnly && ::access(options_.history.c_str(), F_OK) != 0) return 0;
    if (readOnly ? store_.OpenReadOnly(options_.history, error) : store_.Open(options_.history, error)) {
        return 0;
    }
    Json::Value v(Json::objectValue);
    v["target"] = "history";
    v["state"] = "refused";
    v["reason"] = error;
    model_->Report("storage", std::move(v));
    return Fail(2, error);
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
        r.device = row.device;
        active.push_back(std::move(r));
    }
    model_->RestoreRules(active);
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

history::RecorderSettings RecorderSettingsOf(const Options& o) {
    history::RecorderSettings s;
    s.changesOnly = o.historyRows == "changes";
    s.commitCycles = static_cast<int>(o.historyCommit);
    s.retainDays = static_cast<int>(o.retainDays);
    if (const char* delay = std::getenv("TRM27K_TEST_COMMIT_DELAY_MS")) {
        s.commitDelay = std::chrono::milliseconds(std::atol(delay));
    }
    return s;
}
}  // namespace

// With a history file the MQTT outbox lives in it and commits with it, at
// once rather than at the history's interval; without one it is kept in memory.
int MonitorApp::StartMqtt() {
    mqtt_ = std::make_unique<mqtt::MqttOutput>(*model_, MqttSettingsOf(options_), cli::Version());
    if (recorder_) {
        mqtt::MqttOutput* out = mqtt_.get();
        history::HistoryRecorder* recorder = recorder_.get();
        mqtt_->StageWithHistory([recorder] { recorder->WriteSoon(); });
        store_.AddCommitHook([out](sqlite3* db, uint64_t seq, std::string& e) { return out->StageWithin(db, seq, e); },
                             [out](bool committed) { out->AfterCommit(committed); });
    }
    std::string error;
    if (!mqtt_->Start(recorder_ ? options_.history : "", error)) return Fail(2, error);
    model_->StartSequenceAt(mqtt_->LastSeq());
    model_->AddListener(mqtt_.get());
    return 0;
}

int MonitorApp::StartHttp() {
    http::HttpSettings settings;
    if (!http::ParseListen(options_.http, settings)) return Fail(2, "bad --http address: " + options_.http);
    settings.version = cli::Version();
    settings.historyPath = HasHistoryFile() ? options_.history : "";
    settings.authUser = options_.httpUser;
    settings.authHash = options_.httpPasswordHash;
    http_ = std::make_unique<http::HttpServer>(*model_, settings);
    std::string error;
    if (!http_->Start(error)) return Fail(1, error);
    return 0;
}

// Every output is a listener of the model; none can hold up the poll.
int MonitorApp::StartOutputs() {
    if (store_.IsOpen()) {
        recorder_ = std::make_unique<history::HistoryRecorder>(store_, *model_, RecorderSettingsOf(options_));
        model_->AddListener(recorder_.get());
    }
    if (!options_.mqtt.empty()) {
        if (const int status = StartMqtt()) return status;
    }
    if (recorder_) recorder_->Start();  // after the outbox joined its transaction
    if (!options_.http.empty()) {
        if (const int status = StartHttp()) return status;
    }
    if (!options_.snmpAgentx.empty()) {
        if (const int status = StartSnmp()) return status;
    }
    serviceStatus_ = std::make_unique<service::ServiceStatusOutput>(notifier_);
    model_->AddListener(serviceStatus_.get());
    StartAlarmNotices();
    return 0;
}

void MonitorApp::StartAlarmNotices() {
    if (!options_.onAlarm.empty()) {
        alarm_command::Settings s;
        s.command = options_.onAlarm;
        s.site = options_.site;
        s.maxRunning = static_cast<int>(options_.onAlarmJobs);
        s.timeLimit = std::chrono::seconds(options_.onAlarmTimeout);
        alarmCommand_ = std::make_unique<alarm_command::AlarmCommandOutput>(*model_, s);
        alarmCommand_->Start();
        model_->AddListener(alarmCommand_.get());
    }
    if (options_.syslog) {
        syslog_ = std::make_unique<syslog_output::SyslogOutput>();
        model_->AddListener(syslog_.get());
    }
}

// The SNMP module is loaded only here; a master agent that is not there yet
// is no error (the agent keeps trying), a missing module is.
int MonitorApp::StartSnmp() {
    site::SiteModel* model = model_.get();
    std::string error;
    if (!snmp_.Load(options_.snmpAgentx,
                    [model](const char* kind, Json::Value fields) { model->Report(kind, std::move(fields)); }, error) ||
        !snmp_.Get()->Start(error)) {
        return Fail(1, error);
    }
    model_->AddListener(snmp_.Get());
    return 0;
}

// The history writes its last rows (and the outbox's) before MQTT stops.
void MonitorApp::StopOutputs() {
    if (recorder_) recorder_->Stop();
    if (http_) http_->Stop();
    if (mqtt_) mqtt_->Stop();
    if (alarmCommand_) alarmCommand_->Stop();
    if (syslog_) syslog_->Stop();
    if (snmp_.Get() != nullptr) snmp_.Get()->Stop();
    events_.Flush();
}

void MonitorApp::AnswerQueries() {
    for (const Query& q : options_.queries) {
        Json::Value v(Json::objectValue);
        v["data_id"] = q.dataId;
        v["key"] = q.key;
        const auto child = device_->GetChildVDevice(q.dataId);
        try {
            if (!child) throw std::out_of_range("no such child");
            v["value"] = site::FloatJson(child->Get_Value(0, q.key));
        } catch (const std::out_of_range& e) {
            v["error"] = e.what();
        }
        model_->Report("value", std::move(v));
    }
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
    PollLoop loop(protocol, *line_, *controller_, settings);
    loop.OnExchangeEnd([this](bool) { notifier_.Progress(); });
    loop.OnLineWait([this] { notifier_.Progress(); });
    const bool ok = loop.Run(stop, [this](long) { AnswerQueries(); });
    if (ok) notifier_.Stopping();
    controller_->Drain();
    tools::CloseSerialPort(line_->Fd());
    line_->Attach(-1);
    StopOutputs();
    if (!ok) return Fail(1, "the line was lost");
    return StorageStatus();
}

// Whatever could not be written makes the exit status 3, so a service
// manager sees it even though the poll went on.
int MonitorApp::StorageStatus() {
    const uint64_t rows = recorder_ ? recorder_->Lost() : 0;
    const uint64_t lines = events_.Lost();
    if (rows == 0 && lines == 0) return 0;
    return Fail(3, std::to_string(rows) + " history rows and " + std::to_string(lines) +
                       " event lines could not be written");
}

int MonitorApp::Run(const std::atomic<bool>& stop) {
    std::string error;
    if (!SetUpSummary()) {
        return Fail(2, "cannot write the plug-in's output to " + options_.pluginStdout + ": " +
                           std::strerror(errno));
    }
    if (!options_.simScenario.empty() && !simulator_.LoadScenario(options_.simScenario, error)) {
        return Fail(2, error);
    }
    model_ = std::make_unique<site::SiteModel>(options_.site);
    if (const char* stale = std::getenv("TRM27K_TEST_STALE_AFTER_MS")) {
        site::SetStaleAfterMsForTest(std::atol(stale));
    }
    model_->ReportEveryRuleBatch(options_.eventsRules == "all");
    if (const int status = OpenEvents()) return status;
    model_->AddListener(summary_.get());
    if (const int status = OpenHistory()) return status;
    controller_ = std::make_shared<MonitorController>(*model_, options_.fast);
    SetUpLogging();
    if (const int status = CreateDevice()) return status;
    if (store_.IsOpen()) RestoreImages(store_, *device_);
    model_->SetThresholdsOf(options_.device);
    RestoreAlarms();
    if (options_.cycles == 0) {
        AnswerQueries();
        return 0;
    }
    if (const int status = StartOutputs()) return status;
    std::string path;
    if (const int status = OpenLine(path)) return status;
    notifier_.Ready("configured, polling " + (options_.port.empty() ? "the built-in simulator" : options_.port));
    model_->SetLink(true);
    const int status = Poll(path, stop);
    model_->SetLink(false);
    return status;
}

}  // namespace monitor
