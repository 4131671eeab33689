#include "monitor_app.h"

#include <fcntl.h>
#include <pthread.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <thread>

#include <spdlog/sinks/stdout_sinks.h>
#include <spdlog/spdlog.h>

#include "PMBusProtocol.h"
#include "float_json.h"
#include "poll_loop.h"
#include "restore.h"
#include "serial_port.h"

namespace monitor {

MonitorApp::~MonitorApp() {
    DrainAll();
    StopOutputs();
    simulator_.Stop();
    systems_.clear();
}

void MonitorApp::DrainAll() {
    for (PowerSystem& s : systems_) {
        if (s.controller) s.controller->Drain();
    }
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

void MonitorApp::SetUpLogging(MonitorController& controller) {
    auto logger = spdlog::get("trm27k");
    if (!logger) {
        logger = spdlog::stderr_logger_mt("trm27k");
        logger->set_pattern("%Y-%m-%d %H:%M:%S [%l] %v");
        logger->set_level(spdlog::level::from_str(options_.logLevel));
    }
    // Standard error tells a repeated line once a minute with its count;
    // the event file keeps every line. The sink lives in the controller.
    MonitorController* self = &controller;
    controller.SetLogSink([this, self, logger](const host::LogLine& line) {
        self->NoteLogLine(line.text);
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

// One main device per power system, each configured exactly as one alone.
int MonitorApp::CreateDevice() {
    std::string error;
    if (!plugin_.Load(options_.plugin, error)) return Fail(1, error);
    for (const SystemConfig& config : options_.systems) {
        PowerSystem& system = systems_.emplace_back();
        system.config = config;
        if (const int status = CreateSystem(system)) return status;
        site::DeviceState state;
        state.name = config.name;
        state.dataId = config.device["data_id"].asUInt();
        state.address = static_cast<int>(config.device.get("address", 1).asUInt());
        state.port = config.port.empty() ? options_.port : config.port;
        model_->AddDevice(state);
        model_->SetThresholdsOf(config.device);
    }
    AssignBuses();
    return 0;
}

int MonitorApp::CreateSystem(PowerSystem& system) {
    const Json::Value& config = system.config.device;
    std::string error;
    system.controller = std::make_shared<MonitorController>(*model_, options_.fast);
    system.controller->SetSystem(system.config.name, options_.systems.size() > 1);
    SetUpLogging(*system.controller);
    system.device = plugin_.CreateMain(error);
    if (!system.device) return Fail(1, error);
    if (dynamic_cast<PMBusProtocol*>(system.device.get()) == nullptr) {
        return Fail(1, "the plug-in's main device is not a serial protocol device");
    }
    const Json::Value& id = config["data_id"];
    if (!id.isNull() && !id.isUInt()) return Fail(2, "\"data_id\" must be a non-negative integer");
    system.device->Init(system.controller, id.asUInt(), config);
    if (!system.device->InitSetting(config)) return Fail(2, "the plug-in refused the configuration");
    return 0;
}

// Power systems on one port share its line; one without a port of its own
// is on the monitor's --port, or the built-in simulator.
void MonitorApp::AssignBuses() {
    for (size_t k = 0; k < systems_.size(); ++k) {
        const std::string port = systems_[k].config.port.empty() ? options_.port : systems_[k].config.port;
        auto bus = std::find_if(buses_.begin(), buses_.end(), [&port](const Bus& b) { return b.port == port; });
        if (bus == buses_.end()) bus = buses_.insert(buses_.end(), Bus{port, "", nullptr, {}});
        bus->systems.push_back(k);
        systems_[k].bus = static_cast<size_t>(bus - buses_.begin());
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
    s.refreshSeconds = static_cast<int>(o.mqttRefresh);
    s.stateJson = o.mqttStateJson;
    s.keepaliveSeconds = static_cast<int>(o.mqttKeepalive);
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
        mqtt_->StageWithHistory([recorder](uint64_t seq) { recorder->WriteSoon(seq); });
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
    }
    if (!options_.mqtt.empty()) {
        if (const int status = StartMqtt()) return status;
    }
    // Told after the MQTT output: a cycle or an alarm is in the output's
    // queue before the history's transaction can stage it, or it would wait
    // for the next one, for ever if the line stays down.
    if (recorder_) model_->AddListener(recorder_.get());
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

// With `bus`, only the queries of its power systems (a child of another
// line is read on that line's thread, never across); a query for no known
// child belongs to the first line.
void MonitorApp::AnswerQueries(const Bus* bus) {
    for (const Query& q : options_.queries) {
        Json::Value v(Json::objectValue);
        v["data_id"] = q.dataId;
        v["key"] = q.key;
        std::shared_ptr<SMDVDevice> child;
        size_t owner = 0;
        for (size_t k = 0; k < systems_.size() && !child; ++k) {
            child = systems_[k].device->GetChildVDevice(q.dataId);
            if (child) owner = systems_[k].bus;
        }
        if (bus != nullptr && bus != &buses_[owner]) continue;
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
int MonitorApp::OpenLines() {
    std::string error;
    for (Bus& bus : buses_) {
        bus.path = bus.port;
        if (bus.path.empty()) {
            std::vector<uint8_t> addresses;
            for (size_t k : bus.systems) addresses.push_back(dynamic_cast<PMBusProtocol&>(*systems_[k].device).Address());
            if (!simulator_.Start(!options_.fast, addresses, bus.path, error)) return Fail(1, error);
        }
        const auto& protocol = dynamic_cast<PMBusProtocol&>(*systems_[bus.systems.front()].device);
        const int fd = tools::OpenSerialPort(bus.path, protocol.BaudRate(), error);
        if (fd < 0) return Fail(1, error);
        bus.line = std::make_shared<LineTransport>();
        bus.line->Attach(fd);
    }
    return 0;
}

// Polls one line until `stop`; false when it was lost with --exit-on-loss.
bool MonitorApp::PollBus(Bus& bus, const std::atomic<bool>& stop) {
    std::vector<BusDevice> devices;
    for (size_t k : bus.systems) {
        PowerSystem& s = systems_[k];
        devices.push_back({dynamic_cast<PMBusProtocol&>(*s.device), *s.controller, std::make_shared<BusSeat>(),
                           systems_.size() > 1 ? s.config.name : ""});
    }
    PollSettings settings;
    settings.firstByteMs = static_cast<int>(options_.firstByteMs);
    settings.gapMs = static_cast<int>(options_.gapMs);
    settings.baud = devices.front().device.BaudRate();
    settings.shortGate = options_.fast;
    settings.markReady = !options_.fullPoll;
    settings.exitOnLoss = options_.exitOnLoss;
    settings.cycles = options_.cycles;
    settings.siteCycles = &siteCycles_;
    settings.halt = &halt_;
    settings.port = bus.path;
    PollLoop loop(devices, *bus.line, settings);
    loop.OnExchangeEnd([this](bool) { notifier_.Progress(); });
    loop.OnLineWait([this] { notifier_.Progress(); });
    const bool ok = loop.Run(stop, [this, &bus](long) { AnswerQueries(&bus); });
    tools::CloseSerialPort(bus.line->Fd());
    bus.line->Attach(-1);
    return ok;
}

// One thread per line beyond the first, which polls on this one; a line
// that ends (lost with --exit-on-loss) stops the others.
int MonitorApp::Poll(const std::atomic<bool>& stop) {
    std::atomic<bool> lost{false};
    const auto run = [this, &stop, &lost](Bus& bus) {
        if (&bus != &buses_.front()) pthread_setname_np(pthread_self(), "poll");  // the first is the main thread
        if (!PollBus(bus, stop)) lost = true;
        halt_ = true;
    };
    std::vector<std::thread> others;
    for (size_t k = 1; k < buses_.size(); ++k) others.emplace_back(run, std::ref(buses_[k]));
    run(buses_.front());
    for (std::thread& t : others) t.join();
    if (!lost) notifier_.Stopping();
    DrainAll();
    StopOutputs();
    if (lost) return Fail(1, "the line was lost");
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
    if (const char* silent = std::getenv("TRM27K_TEST_SILENT_AFTER_MS")) {
        PollWatch::SetSilentAfterForTest(std::chrono::milliseconds(std::atol(silent)));
    }
    model_->ReportEveryRuleBatch(options_.eventsRules == "all");
    if (const int status = OpenEvents()) return status;
    model_->AddListener(summary_.get());
    if (const int status = OpenHistory()) return status;
    if (const int status = CreateDevice()) return status;
    for (const PowerSystem& s : systems_) {
        if (store_.IsOpen()) RestoreImages(store_, *s.device);
    }
    RestoreAlarms();
    if (options_.cycles == 0) {
        AnswerQueries();
        return 0;
    }
    if (const int status = StartOutputs()) return status;
    if (const int status = OpenLines()) return status;
    notifier_.Ready("configured, polling " + (options_.port.empty() ? "the built-in simulator" : options_.port));
    model_->SetLink(true);
    const int status = Poll(stop);
    model_->SetLink(false);
    return status;
}

}  // namespace monitor
