// End of a poll cycle: the published image and its layout, the module fault
// check and catalogue with their sequence numbers, the work item, and the
// value query's fixed failures.
#include <cstring>
#include <stdexcept>

#include "RcTestKit.h"

using namespace testing_support;

namespace {
constexpr RcParser k41 = &TRM27KRC::parse41_41;
constexpr RcParser k44 = &TRM27KRC::parse41_44;

struct Cycle : RcFixture {
    const std::vector<rule_value>& Rules() { return controller->batches.back().rules; }
    // One cycle with the given alarm modules; returns the cycle's rules.
    const std::vector<rule_value>& RunWithAlarms(const Bytes& alarms) {
        EXPECT_EQ(static_cast<int>(alarms.size()), Parse(k44, alarms));
        rc->RoundDone();
        return Rules();
    }
    std::string ValueError() {
        try {
            rc->Get_Value(0, "v");
        } catch (const std::out_of_range& e) {
            return e.what();
        }
        return "answered";
    }
};
}  // namespace

TEST_F(Cycle, ImageBeforeAnyReplyAndAfterFourModules) {
    rc->RoundDone();
    ASSERT_EQ(1u, controller->records.size());
    EXPECT_EQ(5177, controller->records[0].type);
    ASSERT_EQ(253u, controller->records[0].image.size());
    EXPECT_EQ(0, controller->records[0].image[245]);
    EXPECT_TRUE(Rules().empty());
    ASSERT_EQ(234, Parse(k41, AnalogReply(4)));
    rc->RoundDone();
    EXPECT_EQ(641u, controller->records[1].image.size());
    EXPECT_EQ(641u, rc->send_length);
    EXPECT_EQ(controller->records[1].image, controller->history[1].image);
}

// Every reply lands at its binding place in the image.
TEST_F(Cycle, ImageLayout) {
    ASSERT_EQ(120, Parse(k41, AnalogReply(2)));
    Bytes alarms{0x01, 2};
    PutAlarmModule(alarms, 1, Bytes(18, 0x87));
    PutAlarmModule(alarms, 0, Bytes(18, 0));
    const Bytes status = StatusReply(2);
    const Bytes ac = AcParamReply(0);
    const Bytes dc = DcParamReply(67);
    ASSERT_EQ(42, Parse(k44, alarms));
    ASSERT_EQ(42, Parse(&TRM27KRC::parse41_43, status));
    ASSERT_EQ(21, Parse(&TRM27KRC::parse40_46, ac));
    ASSERT_EQ(217, Parse(&TRM27KRC::parse42_46, dc));
    rc->RoundDone();
    const Bytes& image = controller->records.back().image;
    ASSERT_EQ(447u, image.size());
    const uint8_t* p = image.data();
    EXPECT_EQ(Hex("07 00 00 00"), Bytes(p, p + 4));
    EXPECT_EQ(0, std::memcmp(p + 4, ac.data(), 20));
    EXPECT_EQ(0, std::memcmp(p + 24, dc.data(), 9));
    EXPECT_EQ(0, std::memcmp(p + 33, dc.data() + 9, 208));
    EXPECT_EQ(53.5f, FloatAt(p, 241));
    EXPECT_EQ(2, p[245]);
    const ttime_bytes stamp = get_ttime(host_local_now());
    EXPECT_EQ(0, std::memcmp(p + 246, stamp.data(), 3));  // year and month
    const uint8_t* second = p + 253 + 97;
    EXPECT_EQ(1001.25f, FloatAt(second, 0));
    EXPECT_EQ(13, second[4]);
    EXPECT_EQ(AnalogOf(1, 0), FloatAt(second, 5));
    EXPECT_EQ(AnalogOf(1, 12), FloatAt(second, 53));
    EXPECT_EQ(0, std::memcmp(second + 57, status.data() + 22, 20));
    EXPECT_EQ(Hex("01 12 87"), Bytes(p + 253 + 77, p + 253 + 80));
    EXPECT_EQ(0x87, p[253 + 96]);
    EXPECT_EQ(Hex("00 12 00"), Bytes(second + 77, second + 80));
}

TEST_F(Cycle, TwoModulesNumberTheirRulesIrregularly) {
    ASSERT_EQ(120, Parse(k41, AnalogReply(2)));
    const auto& rules = RunWithAlarms(AlarmReply(2));
    const std::vector<int> expected{1, 2, 3, 4, 5, 5, 5, 5, 5, 5, 5, 6, 7, 7, 7, 7, 7, 7};
    ASSERT_EQ(expected.size(), rules.size());
    for (size_t k = 0; k < rules.size(); ++k) {
        EXPECT_EQ(expected[k], rules[k].sequence) << k;
        EXPECT_EQ(0, rules[k].active) << k;
        const std::string prefix = (k == 1 || k >= 10) ? "模块2" : "模块1";
        EXPECT_EQ(0u, rules[k].detail.rfind(prefix, 0)) << rules[k].detail;
    }
    EXPECT_EQ("RC_0", rules[1].key);
    EXPECT_EQ("模块2整流模块故障告警", rules[1].detail);
    EXPECT_EQ("TRM27KAC_RC_0", rules[2].key);
    EXPECT_EQ("模块1模块通讯中断告警状态", rules[2].detail);
    EXPECT_EQ(4, rules[2].level);
    EXPECT_EQ("TRM27KAC_RC_7", rules[17].key);
    EXPECT_EQ("06027", rules[17].code);
    EXPECT_EQ("整流模块温度过高告警", rules[17].name);
}

TEST_F(Cycle, EachAlarmIsActiveOnlyOnItsOwnValue) {
    ASSERT_EQ(63, Parse(k41, AnalogReply(1)));
    for (uint8_t k = 0; k < 8; ++k) {
        Bytes alarms{0x01, 1};
        Bytes bytes(18, 0);
        bytes[k] = static_cast<uint8_t>(0x80 + k);
        PutAlarmModule(alarms, 0, bytes);
        const auto& rules = RunWithAlarms(alarms);
        ASSERT_EQ(9u, rules.size());
        for (size_t row = 0; row < 8; ++row) {
            EXPECT_EQ(row == k ? 1 : 0, rules[1 + row].active) << int(k) << " " << row;
        }
    }
    Bytes wrong{0x01, 1};
    Bytes bytes(18, 0);
    bytes[3] = 0x80;
    PutAlarmModule(wrong, 2, bytes);
    for (const auto& rule : RunWithAlarms(wrong)) EXPECT_EQ(0, rule.active) << rule.key;
}

TEST_F(Cycle, FaultByteOneIsAFault) {
    ASSERT_EQ(120, Parse(k41, AnalogReply(2)));
    Bytes alarms{0x01, 2};
    PutAlarmModule(alarms, 1, Bytes(18, 0));
    PutAlarmModule(alarms, 2, Bytes(18, 0));
    const auto& rules = RunWithAlarms(alarms);
    EXPECT_EQ(1, rules[0].active);
    EXPECT_EQ(0, rules[1].active);
}

TEST_F(Cycle, ModulesWithoutAllAlarmBytesGetOnlyTheirFaultCheck) {
    ASSERT_EQ(177, Parse(k41, AnalogReply(3)));
    Bytes alarms{0x01, 2};
    PutAlarmModule(alarms, 0, Bytes(17, 0x80));
    PutAlarmModule(alarms, 0, Bytes(18, 0));
    const auto& rules = RunWithAlarms(alarms);  // the third module had no alarm reply
    ASSERT_EQ(3u + 8u, rules.size());
    EXPECT_EQ(3, rules[2].sequence);
    EXPECT_EQ(4, rules[3].sequence);
    EXPECT_EQ("模块2模块通讯中断告警状态", rules[3].detail);
    EXPECT_EQ(6, rules[10].sequence);
}

// The work item saves the image of its own cycle even when it runs after
// the next cycle rewrote the buffer.
TEST_F(Cycle, HeldWorkItemSavesItsOwnCycleImage) {
    controller->workMode = WorkMode::Hold;
    controller->batchResult = true;
    ASSERT_EQ(63, Parse(k41, AnalogReply(1, 10.5f)));
    rc->RoundDone();
    ASSERT_EQ(63, Parse(k41, AnalogReply(1, 20.5f)));
    rc->RoundDone();
    ASSERT_EQ(2u, controller->held.size());
    EXPECT_FALSE(rc->ThresholdResult());
    controller->RunHeld();
    ASSERT_EQ(2u, controller->history.size());
    EXPECT_EQ(10.5f, FloatAt(controller->history[0].image.data(), 241));
    EXPECT_EQ(controller->records[0].image, controller->history[0].image);
    EXPECT_EQ(controller->records[1].image, controller->history[1].image);
    EXPECT_EQ(1u, controller->batches[0].rules.size());
    EXPECT_TRUE(rc->ThresholdResult());
    EXPECT_TRUE(rc->PendingRules().empty());
}

TEST_F(Cycle, ValueQueryAlwaysFailsWithItsReason) {
    EXPECT_EQ("数据未就绪", ValueError());
    rc->RoundDone();
    EXPECT_EQ("数据未就绪", ValueError());
    rc->SetUpdateTime(host_local_now() - boost::posix_time::seconds(60));
    EXPECT_EQ("数据未就绪", ValueError());
    rc->SetUpdateTime(host_local_now() - boost::posix_time::seconds(61));
    EXPECT_EQ("数据已超时", ValueError());
    rc->SetUpdateTime(host_local_now() + boost::posix_time::seconds(300));
    EXPECT_EQ("数据未就绪", ValueError());
}

TEST(RcDevice, TypeText) {
    EXPECT_EQ("trm27k-rc", TRM27KRC().DeviceType());
}
