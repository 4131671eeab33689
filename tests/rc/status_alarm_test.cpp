// Module status (41/43) and module alarms (41/44): module counts against the
// known count, skipped counts and every truncation.
#include "RcTestKit.h"

using namespace testing_support;

namespace {
constexpr RcParser k41 = &TRM27KRC::parse41_41;
constexpr RcParser k43 = &TRM27KRC::parse41_43;
constexpr RcParser k44 = &TRM27KRC::parse41_44;

struct StatusAlarm : RcFixture {
    void SetUp() override {
        RcFixture::SetUp();
        ASSERT_EQ(120, Parse(k41, AnalogReply(2)));
    }
};
using BeforeModules = RcFixture;
}  // namespace

TEST_F(BeforeModules, StatusAndAlarmsWithModulesAreRefused) {
    EXPECT_EQ(-1, Parse(k43, StatusReply(1)));
    EXPECT_TRUE(controller->logs.empty());
    EXPECT_EQ(2, Parse(k43, StatusReply(0)));
    EXPECT_EQ(0, Parse(k44, AlarmReply(1)));
    EXPECT_EQ(2, Parse(k44, AlarmReply(0)));
}

TEST_F(StatusAlarm, StatusFillsModulesAndFewerModulesUpdateOnlyTheFirst) {
    EXPECT_EQ(42, Parse(k43, StatusReply(2)));
    EXPECT_EQ(2, rc->channels[1].status[0]);
    EXPECT_EQ(16, rc->channels[1].status_p);
    EXPECT_EQ(0x50, rc->channels[1].status_user[15]);
    Bytes one{0x10, 1, 9, 9, 9, 16};
    PutN(one, 0x77, 16);
    EXPECT_EQ(22, Parse(k43, one));
    EXPECT_EQ(9, rc->channels[0].status[2]);
    EXPECT_EQ(0x77, rc->channels[0].status_user[0]);
    EXPECT_EQ(2, rc->channels[1].status[0]);
    EXPECT_EQ(-1, Parse(k43, StatusReply(3)));
    EXPECT_TRUE(controller->logs.empty());
}

TEST_F(StatusAlarm, WrongStatusCountIsLoggedAndSkipped) {
    ASSERT_EQ(42, Parse(k43, StatusReply(2)));
    const Bytes b =
        Hex("10 02  05 06 07 02 AA BB  01 02 03 10 00 00 00 00 00 00 00 00 00 00 00 00"
            " 00 00 00 00");
    EXPECT_EQ(28, Parse(k43, b));
    EXPECT_EQ(2, rc->channels[0].status_p);
    EXPECT_EQ(7, rc->channels[0].status[2]);
    EXPECT_EQ(0x40, rc->channels[0].status_user[0]);
    EXPECT_EQ(0, rc->channels[1].status_user[0]);
    EXPECT_EQ("PMBusPowerRC<TeleRC,TeleRCChannel,RT_RC>:ProcotolError 7 read 41_43 p is 2, not 16",
              LastLog());
}

TEST_F(StatusAlarm, TooManyAlarmModulesGiveZeroAndTheCountLine) {
    EXPECT_EQ(0, Parse(k44, AlarmReply(3, 0x80)));
    EXPECT_EQ(0, rc->channels[0].alarm_p);
    EXPECT_EQ(
        "PMBusPowerRC<TeleRC,TeleRCChannel,RT_RC>:ProcotolError 7 parse p41_44 "
        "channel_count not equal 3 != 2 ",
        LastLog());
}

TEST_F(StatusAlarm, AlarmBytesAndAWrongAlarmCount) {
    Bytes b{0x01, 2};
    PutAlarmModule(b, 1, Bytes(18, 0x81));
    PutAlarmModule(b, 0, Bytes(18, 0x82));
    EXPECT_EQ(42, Parse(k44, b));
    EXPECT_EQ(1, rc->channels[0].fault);
    EXPECT_EQ(0x82, rc->channels[1].alarm_user[17]);
    Bytes wrong{0x01, 1};
    PutAlarmModule(wrong, 2, Bytes(17, 0x83));
    EXPECT_EQ(21, Parse(k44, wrong));
    EXPECT_EQ(2, rc->channels[0].fault);
    EXPECT_EQ(17, rc->channels[0].alarm_p);
    EXPECT_EQ(0x81, rc->channels[0].alarm_user[0]);
    EXPECT_EQ("PMBusPowerRC<TeleRC,TeleRCChannel,RT_RC>:ProcotolError 7 read 41_44 p is 17, not 18",
              LastLog());
}

TEST_F(StatusAlarm, EveryTruncationIsRefusedWithItsOverflowLine) {
    const Bytes status = StatusReply(2);
    const Bytes alarms = AlarmReply(2);
    ASSERT_EQ(42, Parse(k43, status));
    ASSERT_EQ(42, Parse(k44, alarms));
    for (size_t cut = 0; cut < status.size(); ++cut) {
        EXPECT_EQ(-1, ParseCut(k43, status, cut)) << cut;
        ExpectOverflowAt(*controller, cut);
    }
    for (size_t cut = 0; cut < alarms.size(); ++cut) {
        EXPECT_EQ(-1, ParseCut(k44, alarms, cut)) << cut;
        ExpectOverflowAt(*controller, cut);
    }
    ParseCut(k43, status, 1);
    EXPECT_EQ("PMBusPowerAC:ProcotolError 7 read 41_43 read overflow 2 - 1", LastLog());
    ParseCut(k43, status, 30);
    EXPECT_EQ("PMBusPowerAC:ProcotolError 7 read 41_43 read overflow 42 - 30", LastLog());
    ParseCut(k44, alarms, 0);
    EXPECT_EQ("PMBusPowerAC:ProcotolError 7 read 41_44 read overflow 2 - 0", LastLog());
    ParseCut(k44, alarms, 22);
    EXPECT_EQ("PMBusPowerAC:ProcotolError 7 read 41_44 read overflow 23 - 22", LastLog());
}
