#include "reference_rig.h"

#include <json/json.h>

#include <boost/date_time/posix_time/posix_time.hpp>

#include "pmbus_frame.h"
#include "poll_steps.h"
#include "replies.h"
#include "scenario.h"

namespace bench {

namespace {
// The monitor's built-in configuration (tools/monitor/builtin_config.h).
constexpr const char* kConfig = R"({"data_id": 1, "address": 1,
    "acSetting": [{"data_id": 11}, {"data_id": 12}],
    "dcSetting": [{"data_id": 21}, {"data_id": 22}], "rcSetting": {}})";

// More replies than any cycle takes: a cycle that needs them has stalled.
constexpr int kMaxReplies = 16;
constexpr int kWarmUpCycles = 3;
constexpr double kLineBitsPerByte = 10.0;  // start bit, 8 data bits, stop bit
constexpr double kLineBaud = 9600.0;
constexpr double kReplyPauseSeconds = 0.020;

Json::Value ParseConfig() {
    Json::CharReaderBuilder builder;
    const std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
    Json::Value config;
    std::string errors;
    const std::string text = kConfig;
    reader->parse(text.data(), text.data() + text.size(), &config, &errors);
    return config;
}

// Any time far enough back that the next RefreshStatus starts a cycle.
const boost::posix_time::ptime& LongAgo() {
    static const boost::posix_time::ptime kLongAgo(boost::gregorian::date(2000, 1, 1));
    return kLongAgo;
}

ReferenceReply MakeReply(const sim::Scenario& s, uint8_t cid1, uint8_t cid2) {
    ReferenceReply reply;
    reply.cid1 = cid1;
    reply.cid2 = cid2;
    std::vector<uint8_t> info;
    sim::BuildInfo(s, cid1, cid2, info);
    const size_t lenid = 2 * info.size();
    reply.decoded = {s.version, s.address, cid1, 0, static_cast<uint8_t>(lenid & 0xFF),
                     static_cast<uint8_t>(lenid >> 8)};
    reply.decoded.insert(reply.decoded.end(), info.begin(), info.end());
    host::EncodeFrame(s.version, s.address, cid1, 0, info.data(), info.size(), reply.frame);
    return reply;
}
}  // namespace

bool QuietController::SendCommand(PMBusProtocol&, uint8_t, uint8_t, const uint8_t*, int) {
    ++commands_;
    return true;
}

void QuietController::PublishRecord(SMDVDevice&, int, const uint8_t*, unsigned int, bool) {
    ++records_;
}

class FramingController::CountingTransport : public host::SerialTransport {
public:
    bool Write(const uint8_t* /*bytes*/, size_t count) override {
        bytes += count;
        return true;
    }
    uint64_t bytes = 0;
};

FramingController::FramingController() : transport_(std::make_shared<CountingTransport>()) {
    SetTransport(transport_);
}

bool FramingController::SendCommand(PMBusProtocol& device, uint8_t cid1, uint8_t cid2,
                                    const uint8_t* info, int infoLength) {
    QuietController::SendCommand(device, cid1, cid2, info, infoLength);
    return SMDController::SendCommand(device, cid1, cid2, info, infoLength);
}

uint64_t FramingController::BytesFramed() const { return transport_->bytes; }

ReferenceRig::ReferenceRig(std::shared_ptr<QuietController> controller)
    : controller_(std::move(controller)), power_(std::make_shared<TRM27K>()) {
    const Json::Value config = ParseConfig();
    power_->Init(controller_, config["data_id"].asUInt(), config);
    power_->InitSetting(config);
    const sim::Scenario scenario = sim::DefaultScenario();
    replies_.resize(power::kModelStep + 1);
    for (const power::PollStep& row : power::kPollSteps) {
        replies_[static_cast<size_t>(row.step)] = MakeReply(scenario, row.cid1, row.cid2);
    }
}

bool ReferenceRig::StartCycle() {
    power_->SetUpdateTime(LongAgo());
    return power_->RefreshStatus();
}

const ReferenceReply& ReferenceRig::ReplyFor(int step) const {
    return replies_.at(static_cast<size_t>(step));
}

bool ReferenceRig::HandleCurrent() {
    const ReferenceReply& reply = ReplyFor(power_->Step());
    return power_->HandleReply(reply.decoded.data(), reply.decoded.size());
}

bool ReferenceRig::RunCycle() {
    const uint64_t before = controller_->Records();
    if (!StartCycle()) return false;
    for (int n = 0; n < kMaxReplies && HandleCurrent(); ++n) {
    }
    return CycleEnded(before);
}

bool ReferenceRig::RunCycleFromLine() {
    const uint64_t before = controller_->Records();
    if (!StartCycle()) return false;
    for (int n = 0; n < kMaxReplies && !CycleEnded(before); ++n) {
        std::string& frame = replies_.at(static_cast<size_t>(power_->Step())).frame;
        replyBytesFed_ += frame.size();
        power_->process(reinterpret_cast<unsigned char*>(frame.data()),
                        static_cast<unsigned int>(frame.size()));
    }
    return CycleEnded(before);
}

bool ReferenceRig::WarmUp() {
    for (int k = 0; k < kWarmUpCycles; ++k) {
        if (!RunCycle()) return false;
        power_->SetDataReady(true);  // as the monitor does after each cycle
    }
    return true;
}

bool ReferenceRig::CycleEnded(uint64_t recordsBefore) const {
    const size_t children = power_->AcDevices().size() + power_->DcDevices().size() + 1;
    return controller_->Records() - recordsBefore == children && power_->Step() == 0 &&
           !power_->IsProcessing();
}

std::vector<std::shared_ptr<SMDVDevice>> ReferenceRig::ChildrenInClosingOrder() const {
    std::vector<std::shared_ptr<SMDVDevice>> all(power_->AcDevices().begin(),
                                                 power_->AcDevices().end());
    all.insert(all.end(), power_->DcDevices().begin(), power_->DcDevices().end());
    all.push_back(power_->RcDevice());
    return all;
}

double CycleTraffic::LineSeconds() const {
    const double bytes = static_cast<double>(commandBytes + replyBytes);
    return bytes * kLineBitsPerByte / kLineBaud + kReplyPauseSeconds * static_cast<double>(replies);
}

bool MeasureSteadyCycleTraffic(CycleTraffic& out) {
    const auto controller = std::make_shared<FramingController>();
    ReferenceRig rig(controller);
    if (!rig.WarmUp()) return false;
    const uint64_t commands = controller->Commands();
    const uint64_t framed = controller->BytesFramed();
    if (!rig.RunCycleFromLine()) return false;
    out.commandBytes = controller->BytesFramed() - framed;
    out.replyBytes = rig.ReplyBytesFed();
    out.replies = controller->Commands() - commands;  // one reply to every command
    return true;
}

}  // namespace bench
