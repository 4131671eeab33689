#include "monitor_app.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include <spdlog/sinks/stdout_sinks.h>
#include <spdlog/spdlog.h>

#include "PMBusProtocol.h"
#include "poll_loop.h"
#include "serial_port.h"
#include "summary.h"

namespace monitor {

namespace {
// Writes commands to the line.
class FdTransport : public host::SerialTransport {
public:
    explicit FdTransport(int fd) : fd_(fd) {}
    bool Write(const uint8_t* bytes, size_t count) override {
        return tools::WriteAll(fd_, bytes, count, 0);
    }

private:
    int fd_;
};
}  // namespace

MonitorApp::~MonitorApp() {
    if (controller_) controller_->Drain();
    simulator_.Stop();
    device_.reset();
    controller_.reset();
    if (summary_ != nullptr) std::fclose(summary_);
}

int MonitorApp::Fail(int status, const std::string& reason) {
    std::fprintf(stderr, "trm27k-monitor: %s\n", reason.c_str());
    return status;
}

// The summary keeps the original standard output; the plug-in's own output
// lines go to standard error or a file, so they never garble it.
bool MonitorApp::SetUpOutput() {
    const int original = ::dup(STDOUT_FILENO);
    summary_ = original >= 0 ? ::fdopen(original, "w") : nullptr;
    if (summary_ == nullptr) return false;
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

// Offers every child its newest saved image.
void MonitorApp::Restore() {
    for (const auto& child : device_->GetAllChildVDevices()) {
        std::vector<uint8_t> image;
        if (!store_.LatestImage(child->DataId(), child->DeviceType(), image)) continue;
        const bool taken = child->LoadFromCache(image.data(), static_cast<int>(image.size()));
        spdlog::get("trm27k")->info("restore {} {}: {} bytes {}", child->DeviceType(),
                                    child->DataId(), image.size(), taken ? "taken" : "refused");
    }
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
        std::fprintf(summary_, "  %u:%s = %s\n", q.dataId, q.key.c_str(), answer.c_str());
    }
    if (summary_ != nullptr) std::fflush(summary_);
}

int MonitorApp::OpenLine(int& fd) {
    std::string error;
    std::string path = options_.port;
    if (path.empty() && !simulator_.Start(!options_.fast, path, error)) {
        return Fail(1, error);
    }
    const auto* protocol = dynamic_cast<PMBusProtocol*>(device_.get());
    fd = tools::OpenSerialPort(path, protocol->BaudRate(), error);
    if (fd < 0) return Fail(1, error);
    controller_->SetTransport(std::make_shared<FdTransport>(fd));
    return 0;
}

int MonitorApp::Poll(int fd, const std::atomic<bool>& stop) {
    PollSettings settings;
    settings.firstByteMs = static_cast<int>(options_.firstByteMs);
    settings.gapMs = static_cast<int>(options_.gapMs);
    settings.shortGate = options_.fast;
    settings.markReady = !options_.fullPoll;
    settings.cycles = options_.cycles;
    auto& protocol = dynamic_cast<PMBusProtocol&>(*device_);
    PollLoop loop(protocol, fd, *controller_, events_, settings);
    const bool ok = loop.Run(stop, [this](long cycle) {
        if (!options_.quiet) PrintSummary(summary_, cycle, *device_, *controller_);
        AnswerQueries();
    });
    controller_->Drain();
    ::close(fd);
    return ok ? 0 : Fail(1, "the line was lost");
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
    if (!events_.Open(options_.events, error)) return Fail(2, error);
    if (!store_.Open(options_.history, error)) return Fail(2, error);
    controller_ = std::make_shared<MonitorController>(events_, store_, options_.fast);
    SetUpLogging();
    if (const int status = CreateDevice()) return status;
    Restore();
    if (options_.cycles == 0) {
        AnswerQueries();
        return 0;
    }
    int fd = -1;
    if (const int status = OpenLine(fd)) return status;
    return Poll(fd, stop);
}

}  // namespace monitor
