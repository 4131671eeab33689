#pragma once
#include "host_api.h"
// The hub of host services for the devices it owns: the diagnostic log sink,
// published records, history saves, the threshold service and the serial
// transport. Every hook is virtual so a host (or a test) replaces just the
// services it needs; the defaults drop records, run work items at once and
// report no threshold change.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "log_format.h"
#include "rule_value.h"

class SMDVDevice;
class SMDSPDevice;
class PMBusProtocol;

namespace host {

// One diagnostic line as the sink receives it.
struct LogLine {
    std::string tmpl;               // the template exactly as the device passed it
    std::vector<std::string> args;  // each argument rendered as text
    std::string text;               // the template with every marker filled in
};
using LogSink = std::function<void(const LogLine&)>;

// The byte stream to the power system; the controller writes encoded frames here.
class HOST_API SerialTransport {
public:
    virtual ~SerialTransport() = default;
    virtual bool Write(const uint8_t* bytes, size_t count) = 0;
    // Drops whatever the line received and nobody read yet; called before
    // every command, so a late or repeated reply never answers the next one.
    virtual void DiscardInput() {}
};

}  // namespace host

class HOST_API SMDController : public std::enable_shared_from_this<SMDController> {
public:
    virtual ~SMDController() = default;

    // Formats and hands the line to the sink; without a sink nothing is formatted.
    template <class... Args>
    void InfoLog(const char* tmpl, const Args&... args) {
        if (!logSink_) return;
        host::LogLine line;
        line.tmpl = tmpl;
        line.args = {host::LogArgText(args)...};
        line.text = host::FormatLogLine(tmpl, line.args);
        logSink_(line);
    }
    void SetLogSink(host::LogSink sink) { logSink_ = std::move(sink); }
    void SetTransport(std::shared_ptr<host::SerialTransport> t) { transport_ = std::move(t); }

    // A device published a telemetry record (SendSP).
    virtual void PublishRecord(SMDVDevice& /*device*/, int /*type*/, const uint8_t* /*data*/,
                               unsigned int /*length*/, bool /*flag*/) {}
    // A device asked for a copy of its record in the history.
    virtual void SaveHistory(SMDVDevice& /*device*/, const uint8_t* /*data*/,
                             unsigned int /*length*/) {}
    // The threshold service: runs a work item once, here at once.
    virtual void RunWork(std::function<void()> work) { work(); }
    // Evaluates one batch of rules; true when some rule changed state.
    virtual bool BatchCheck(SMDVDevice& /*device*/, const std::vector<rule_value>& /*rules*/) {
        return false;
    }
    // Sends one command; the default frames it and writes it to the transport.
    virtual bool SendCommand(PMBusProtocol& device, uint8_t cid1, uint8_t cid2,
                             const uint8_t* info, int infoLength);
    // A received frame failed its checks and was dropped (`raw` is its body).
    virtual void OnFrameError(PMBusProtocol& /*device*/, const char* /*reason*/,
                              const char* /*raw*/, size_t /*length*/) {}
    // A serial device ended its exchange (Reset): after a reply that ended the
    // poll cycle, a timeout, or a refused reply.
    virtual void OnReset(SMDSPDevice& /*device*/) {}
    // The pause before a reply is examined; tests and benchmarks replace it.
    virtual void Pause(unsigned int microseconds);

private:
    host::LogSink logSink_;
    std::shared_ptr<host::SerialTransport> transport_;
};
