// The driver's main device polling the simulator through the host's framing:
// whole poll cycles end without a protocol error and publish every record.
#include <gtest/gtest.h>

#include <deque>

#include "SimTestKit.h"
#include "TRM27K.h"

using namespace sim_testing;

namespace {

// Sends every command through the simulator and queues its replies, which
// the test hands back to the device one at a time, as the line would.
class LoopbackController : public testing_support::RecordingController {
public:
    explicit LoopbackController(sim::Simulator& simulator) : simulator_(simulator) {}
    bool SendCommand(PMBusProtocol& device, uint8_t cid1, uint8_t cid2, const uint8_t* info,
                     int infoLength) override {
        RecordingController::SendCommand(device, cid1, cid2, info, infoLength);
        std::string frame;
        host::EncodeFrame(device.Version(), device.Address(), cid1, cid2, info,
                          static_cast<size_t>(infoLength), frame);
        std::vector<sim::OutgoingReply> replies;
        simulator_.Feed(reinterpret_cast<const uint8_t*>(frame.data()), frame.size(), replies);
        for (auto& r : replies) pending.push_back(std::move(r.bytes));
        return true;
    }
    std::deque<std::string> pending;

private:
    sim::Simulator& simulator_;
};

Json::Value Configuration(size_t ac, size_t dc) {
    Json::Value setting(Json::objectValue);
    setting["address"] = 1;
    for (size_t k = 0; k < ac; ++k)
        setting["acSetting"][Json::ArrayIndex(k)]["data_id"] = Json::UInt(11 + k);
    for (size_t k = 0; k < dc; ++k)
        setting["dcSetting"][Json::ArrayIndex(k)]["data_id"] = Json::UInt(21 + k);
    setting["rcSetting"] = Json::Value(Json::objectValue);
    return setting;
}

struct PollRig {
    sim::Simulator simulator;
    std::shared_ptr<LoopbackController> controller =
        std::make_shared<LoopbackController>(simulator);
    std::shared_ptr<TRM27K> power = std::make_shared<TRM27K>();

    PollRig(const sim::Scenario& s, const sim::FaultPlan& plan = {}) : simulator(plan) {
        std::string error;
        EXPECT_TRUE(simulator.SetScenario(s, error)) << error;
        const Json::Value setting = Configuration(s.ac.size(), s.dc.size());
        power->Init(controller, 1, setting);
        EXPECT_TRUE(power->InitSetting(setting));
    }
    // One RefreshStatus past the 2-second gate, then every reply handed back.
    void Cycle() {
        power->SetUpdateTime(boost::posix_time::second_clock::local_time() -
                             boost::posix_time::seconds(10));
        power->RefreshStatus();
        while (!controller->pending.empty()) {
            std::string bytes = std::move(controller->pending.front());
            controller->pending.pop_front();
            power->process(reinterpret_cast<unsigned char*>(&bytes[0]),
                           static_cast<unsigned>(bytes.size()));
        }
    }
    std::vector<std::string> ErrorLines() const {
        std::vector<std::string> errors;
        for (const std::string& text : controller->LogTexts()) {
            if (text.find("Error") != std::string::npos) errors.push_back(text);
        }
        return errors;
    }
    std::vector<std::pair<int, size_t>> Records() const {
        std::vector<std::pair<int, size_t>> out;
        for (const auto& r : controller->records) out.push_back({r.type, r.image.size()});
        return out;
    }
};

using Cmd = std::pair<uint8_t, uint8_t>;
std::vector<Cmd> Sent(const testing_support::RecordingController& c) {
    std::vector<Cmd> out;
    for (const auto& cmd : c.commands) out.push_back({cmd.cid1, cmd.cid2});
    return out;
}

}  // namespace

TEST(DriverPoll, AFirstCycleOverTheDefaultScenarioMakesEveryQueryAndPublishesEveryRecord) {
    PollRig rig(sim::DefaultScenario());
    rig.Cycle();
    const std::vector<Cmd> expected = {{0x40, 0x51}, {0x40, 0x41}, {0x40, 0x43}, {0x40, 0x44},
                                       {0x41, 0x41}, {0x41, 0x43}, {0x41, 0x44}, {0x42, 0x41},
                                       {0x42, 0x44}, {0x40, 0x46}, {0x42, 0x46}};
    EXPECT_EQ(expected, Sent(*rig.controller));
    EXPECT_EQ(0, rig.power->Step());
    EXPECT_TRUE(rig.ErrorLines().empty()) << rig.ErrorLines().front();
    const std::vector<std::pair<int, size_t>> records = {
        {5175, 42 + 160 * 3}, {5175, 42 + 160 * 3}, {5176, 450}, {5176, 450}, {5177, 253 + 97 * 4}};
    EXPECT_EQ(records, rig.Records());
    // No alarm rule is active in the default scenario.
    for (const auto& batch : rig.controller->batches) {
        for (const rule_value& rule : batch.rules) EXPECT_FALSE(rule.active) << rule.key;
    }
}

TEST(DriverPoll, LaterCyclesRepeatWithoutTheModelQuery) {
    PollRig rig(sim::DefaultScenario());
    rig.Cycle();
    rig.controller->Clear();
    rig.Cycle();
    EXPECT_EQ(10u, rig.controller->commands.size());
    EXPECT_EQ(5u, rig.controller->records.size());
    EXPECT_TRUE(rig.ErrorLines().empty());
}

TEST(DriverPoll, OddShapesAndFourDcScreensAreAcceptedToo) {
    PollRig rig(DistinctScenario({1, 4, 2}, 4, 7));
    rig.Cycle();
    EXPECT_EQ(11u, rig.controller->commands.size());
    EXPECT_EQ(0, rig.power->Step());
    const std::vector<std::string> errors = rig.ErrorLines();
    EXPECT_TRUE(errors.empty()) << errors.front();
    EXPECT_EQ(3u + 4 + 1, rig.controller->records.size());
}

TEST(DriverPoll, AnAlarmInTheScenarioReachesTheDriverAsAnActiveRule) {
    sim::Scenario s = sim::DefaultScenario();
    s.ac[1].channels[2].cAlert = 2;  // too high
    s.dc[0].fuses[3] = 3;            // fuse fault
    s.modules[2].fault = 1;
    PollRig rig(s);
    rig.Cycle();
    std::vector<std::string> active;
    for (const auto& batch : rig.controller->batches) {
        for (const rule_value& rule : batch.rules) {
            if (rule.active) active.push_back(std::to_string(batch.dataId) + ":" + rule.key);
        }
    }
    EXPECT_EQ((std::vector<std::string>{"12:AC_6", "21:DC_3", "1:RC_0"}), active);
}

TEST(DriverPoll, AWrongUnitCountIsRefusedByTheDriver) {
    sim::FaultPlan plan;
    plan.wrongCount = 1.0;
    PollRig rig(sim::DefaultScenario(), plan);
    rig.Cycle();
    // The model reply has no count and passes; the AC analog reply is refused.
    const std::vector<std::string> errors = rig.ErrorLines();
    ASSERT_EQ(1u, errors.size());
    EXPECT_NE(std::string::npos, errors[0].find("ac_number is")) << errors[0];
    EXPECT_TRUE(rig.controller->records.empty());
}
