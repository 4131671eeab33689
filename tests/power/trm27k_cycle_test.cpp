// Whole poll cycles of the real TRM27K main device with all three kinds of
// child: every reply decoded, every image published, every rule batched.
#include <gtest/gtest.h>

#include "../ac/AcTestKit.h"
#include "../dc/DcTestKit.h"
#include "../rc/RcTestKit.h"
#include "JsonText.h"
#include "TRM27K.h"

using namespace testing_support;

namespace {
constexpr uint8_t kModules = 4;

Bytes Group(uint8_t flag, uint8_t count, const Bytes& block) {
    Bytes b{flag, count};
    for (uint8_t k = 0; k < count; ++k) PutBytes(b, block);
    return b;
}

Bytes AcStatusBlock() {
    Bytes b{0, 13};
    PutN(b, 0x01, 13);
    return b;
}

Bytes DcAlarms(uint8_t vAlarm) { return DcAlarmBlock(vAlarm, Bytes(6, 0), Bytes(151, 0)); }

struct Rig {
    std::shared_ptr<RecordingController> controller = std::make_shared<RecordingController>();
    std::shared_ptr<TRM27K> power = std::make_shared<TRM27K>();
    uint8_t acState = 0;
    Bytes dcAnalog = Group(0x11, 2, DcAnalogBlock(2, 2, 55));

    Rig() {
        const Json::Value setting = ParseJson(R"({"acSetting": [{"data_id": 11}, {"data_id": 12}],
            "dcSetting": [{"data_id": 21}, {"data_id": 22}], "rcSetting": {}})");
        power->Init(controller, 1, setting);
        EXPECT_TRUE(power->InitSetting(setting));
    }
    Bytes InfoFor(int step) const {
        const uint8_t states[4] = {0, 0, acState, 0};
        const uint8_t currents[3] = {0, 0, 0};
        switch (step) {
            case 14: { Bytes b{'T', 'R', 'M', '2', '7', 'K'}; PutN(b, 0, 14); return b; }
            case 0: return Group(0x11, 2, AcAnalogBlock(3));
            case 1: return Group(0x11, 2, AcStatusBlock());
            case 2: return Group(0x11, 2, AcAlarmBlock(3, states, currents));
            case 4: return AnalogReply(kModules);
            case 5: return StatusReply(kModules);
            case 6: return AlarmReply(kModules);
            case 7: return dcAnalog;
            case 8: return Group(0x11, 2, DcAlarms(1));
            case 3: return AcParamReply(0);
            default: return DcParamReply(67);
        }
    }
    // Answers the command of the current step; what the device returned.
    bool Answer() {
        const int step = power->Step();
        const uint8_t cid1 = step == 14 || step <= 3 ? 0x40 : step <= 6 ? 0x41 : 0x42;
        const Bytes reply = Reply(cid1, InfoFor(step));
        return power->HandleReply(reply.data(), reply.size());
    }
    // Runs one cycle from RefreshStatus to the end; false if it did not end.
    bool Cycle() {
        power->SetUpdateTime(host_local_now() - boost::posix_time::seconds(3));
        if (!power->RefreshStatus()) return false;
        for (int guard = 0; guard < 12; ++guard) {
            if (!Answer()) return power->Step() == 0;
        }
        return false;
    }
};
}  // namespace

TEST(Trm27kCycle, EveryChildPublishesAndBatchesInOrder) {
    Rig rig;
    testing::internal::CaptureStdout();
    ASSERT_TRUE(rig.Cycle());
    testing::internal::GetCapturedStdout();
    EXPECT_TRUE(rig.controller->logs.empty()) << rig.controller->LogTexts().front();
    std::vector<std::pair<unsigned, int>> order;
    for (const auto& r : rig.controller->records) order.emplace_back(r.dataId, r.type);
    const std::vector<std::pair<unsigned, int>> expected = {
        {11, 5175}, {12, 5175}, {21, 5176}, {22, 5176}, {1, 5177}};
    EXPECT_EQ(expected, order);
    EXPECT_EQ(42u + 3 * 160, rig.controller->records[0].image.size());
    EXPECT_EQ(450u, rig.controller->records[2].image.size());
    EXPECT_EQ(253u + kModules * 97, rig.controller->records[4].image.size());
    ASSERT_EQ(5u, rig.controller->batches.size());
    EXPECT_EQ(11u * 3 + 9, rig.controller->batches[0].rules.size());
    EXPECT_EQ(2u + 6 + 124, rig.controller->batches[2].rules.size());
    EXPECT_EQ(kModules + 8u * kModules, rig.controller->batches[4].rules.size());
    EXPECT_EQ(5u, rig.controller->history.size());
    EXPECT_EQ(1, rig.controller->batches[2].rules[0].active);  // DC_0: v_alarm 1
}

TEST(Trm27kCycle, DecodedValuesAreAnsweredAndAlarmsFollowTheReplies) {
    Rig rig;
    testing::internal::CaptureStdout();
    ASSERT_TRUE(rig.Cycle());
    rig.acState = 2;  // c too high on every channel
    rig.controller->Clear();
    rig.power->SetDataReady(false);  // keep every status and alarm query
    ASSERT_TRUE(rig.Cycle());
    testing::internal::GetCapturedStdout();
    const auto ac = rig.power->GetChildVDevice(12);
    EXPECT_EQ(222.0f, ac->Get_Value(0, "channel_2_a"));
    EXPECT_EQ(3.5f, ac->Get_Value(0, "ic"));
    EXPECT_EQ(48.0f, rig.power->GetChildVDevice(21)->Get_Value(0, "v"));
    int active = 0;
    for (const auto& r : rig.controller->batches[0].rules) active += r.active;
    EXPECT_EQ(3, active);  // AC_6 once per channel
}

TEST(Trm27kCycle, ReadyDeviceStillMakesTheQueriesItsFlagsAskFor) {
    Rig rig;
    testing::internal::CaptureStdout();
    ASSERT_TRUE(rig.Cycle());
    rig.power->SetDataReady(true);
    rig.controller->commands.clear();
    ASSERT_TRUE(rig.Cycle());  // every flag is 0x11 here: still the full cycle
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(10u, rig.controller->commands.size());
}

TEST(Trm27k, ConstructorSetsTheModelsLineValues) {
    const TRM27K power;
    EXPECT_EQ("trm27k", power.DeviceType());
    EXPECT_EQ(9600, power.BaudRate());
    EXPECT_EQ(0x21, power.Version());
    EXPECT_EQ(1, power.Setting());
    EXPECT_EQ(1, power.Address());
}

// More user values than the first DC screen's record holds must not starve
// the second screen of its block: every cycle completes and the second
// screen's record is exactly what a screen alone would have made of it.
TEST(Trm27kCycle, FiftySixUserValuesOnTheFirstDcScreenLeaveTheSecondExact) {
    Rig rig;
    const Bytes second =
        DcAnalogBlock(53.25f, 7.5f, Floats(2, 11.0f), Floats(1, 21.0f), Raw(Floats(3, 31.0f)));
    rig.dcAnalog = Bytes{0x11, 2};
    PutBytes(rig.dcAnalog, DcAnalogBlock(48.0f, 1.0f, {}, {}, Raw(Floats(56, 1.0f))));
    PutBytes(rig.dcAnalog, second);
    testing::internal::CaptureStdout();
    for (int cycle = 0; cycle < 3; ++cycle) ASSERT_TRUE(rig.Cycle()) << cycle;
    BoundDc alone(22);
    alone.Feed41(second);
    alone.Feed44(DcAlarms(1));
    testing::internal::GetCapturedStdout();
    std::vector<Bytes> images;
    for (const auto& r : rig.controller->records) {
        if (r.dataId == 22) images.push_back(r.image);
    }
    ASSERT_EQ(3u, images.size());
    const Bytes expected = RecordBytes(alone.dc->tele);
    const size_t stamp = 443;  // the time stamp differs by its nature
    EXPECT_EQ(Bytes(expected.begin(), expected.begin() + stamp),
              Bytes(images.back().begin(), images.back().begin() + stamp));
    EXPECT_EQ(3u, rig.controller->logs.size());  // the p_count line, once per cycle
    for (const auto& line : rig.controller->LogTexts()) {
        EXPECT_NE(std::string::npos, line.find("read p_count is 56")) << line;
    }
}

// A rectifier analog reply without INFO still goes to the child, which
// refuses it; the device then writes its own line and repeats the step.
TEST(Trm27kCycle, RectifierAnalogReplyWithoutInfoWritesBothLines) {
    Rig rig;
    testing::internal::CaptureStdout();
    ASSERT_TRUE(rig.Cycle());
    rig.power->SetUpdateTime(host_local_now() - boost::posix_time::seconds(3));
    ASSERT_TRUE(rig.power->RefreshStatus());
    while (rig.power->Step() != 4) ASSERT_TRUE(rig.Answer());
    testing::internal::GetCapturedStdout();
    rig.controller->Clear();
    const uint8_t flag = rig.power->RcDataFlag();
    const Bytes empty = Reply(0x41, {});
    EXPECT_TRUE(rig.power->HandleReply(empty.data(), empty.size()));
    EXPECT_EQ((std::vector<std::string>{
                  "PMBusPowerAC:ProcotolError 1 read 41_41 read overflow 5 - 0",
                  "PMBusPower:ProcotolError 1 parse p41_41 overflow memory boundary"}),
              rig.controller->LogTexts());
    EXPECT_EQ(4, rig.power->Step());
    EXPECT_EQ(flag, rig.power->RcDataFlag());
    EXPECT_TRUE(rig.controller->commands.empty());
}
