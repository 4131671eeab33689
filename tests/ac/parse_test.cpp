// AC parsers: accepted blocks, markers and fills, skipped counts, refusals.
#include <gtest/gtest.h>

#include "AcTestKit.h"

using namespace testing_support;

namespace {
struct AcFixture : ::testing::Test {
    std::shared_ptr<RecordingController> controller = std::make_shared<RecordingController>();
    ParentDevice parent;
    TRM27KAC ac;
    void SetUp() override {
        parent.Init(controller, 1, Json::Value());
        ac.InitV(&parent, 11, Json::Value(Json::objectValue));
    }
    int Parse41(const Bytes& b, int size = -1) {
        return ac.parse40_41(b.data(), size < 0 ? static_cast<int>(b.size()) : size);
    }
};
}  // namespace

TEST_F(AcFixture, FirstAnalogBlockFixesTheChannelCount) {
    const Bytes block = AcAnalogBlock(2);
    ASSERT_EQ(287u, block.size());
    EXPECT_EQ(287, Parse41(block));
    EXPECT_EQ(2, ac.tele.channel_count);
    ASSERT_EQ(2u, ac.channels.size());
    EXPECT_EQ(221.0f, Val(ac.channels[1].a));
    EXPECT_EQ(50.0f, Val(ac.channels[1].f));
    EXPECT_EQ(3.5f, Val(ac.tele.ic));
    const auto before = ac.channels;
    EXPECT_EQ(-1, Parse41(AcAnalogBlock(3)));
    EXPECT_EQ(2u, ac.channels.size());
    EXPECT_EQ(0, std::memcmp(before.data(), ac.channels.data(), 2 * sizeof(before[0])));
    EXPECT_TRUE(controller->logs.empty());
}

// A screen whose channel count really changed must not stall the poll: the
// same new count in three blocks running is adopted and the channel records
// are laid out anew. Anything less is a bad block and refused.
TEST_F(AcFixture, ANewChannelCountIsAdoptedAfterThreeBlocksRunning) {
    const int three = 13 + 3 * 137;
    ASSERT_EQ(287, Parse41(AcAnalogBlock(2)));
    ac.channels[0].a_alert = 2;
    // Streaks broken by the known count or by another new count.
    for (uint8_t n : {3, 3, 2, 3, 3, 1, 3}) {
        EXPECT_EQ(n == 2 ? 287 : -1, Parse41(AcAnalogBlock(n))) << int(n);
    }
    EXPECT_EQ(2u, ac.channels.size());
    EXPECT_EQ(2, ac.channels[0].a_alert);
    EXPECT_TRUE(controller->logs.empty());
    EXPECT_EQ(-1, Parse41(AcAnalogBlock(3)));
    EXPECT_EQ(three, Parse41(AcAnalogBlock(3)));
    EXPECT_EQ(3, ac.tele.channel_count);
    ASSERT_EQ(3u, ac.channels.size());
    EXPECT_EQ(0, ac.channels[0].a_alert);  // no state of the old layout survives
    EXPECT_EQ(222.0f, Val(ac.channels[2].a));
    ASSERT_EQ(1u, controller->logs.size());
    EXPECT_EQ("PMBusPowerAC:ProcotolError 11 read 40_41 channel_count is 3 in 3 blocks, 2 replaced",
              controller->logs[0].text);
    // The number of blocks is text: the host's log takes three arguments at most.
    EXPECT_EQ((std::vector<std::string>{"11", "3", "2"}), controller->logs[0].args);
    // The new count is guarded like the first one.
    EXPECT_EQ(-1, Parse41(AcAnalogBlock(2)));
    EXPECT_EQ(three, Parse41(AcAnalogBlock(3)));
    // Alarm blocks follow the new layout.
    const uint8_t states[4] = {1, 0, 0, 0};
    const uint8_t currents[3] = {0, 0, 0};
    EXPECT_EQ(4 + 24 * 3, ac.parse40_44(AcAlarmBlock(3, states, currents).data(), 4 + 24 * 3));
}

// Each channel's four values go to standard output, in the stream's default
// number format, after the marker has been applied.
TEST_F(AcFixture, EachChannelPrintsItsValuesOnce) {
    Bytes block{2};
    PutAcChannel(block, 230.1f, 0.0f, -1.5f, 50.0f);
    PutF(block, 231.0f);
    PutN(block, 0x20, 4);  // b not provided
    PutF(block, 232.0f);
    PutF(block, 49.75f);
    Put(block, 30);
    PutN(block, 0, 120);
    PutN(block, 0, 12);
    ::testing::internal::CaptureStdout();
    EXPECT_EQ(static_cast<int>(block.size()), Parse41(block));
    EXPECT_EQ("a:230.1 b:0 c:-1.5 f:50\na:231 b:0 c:232 f:49.75\n",
              ::testing::internal::GetCapturedStdout());
}

TEST_F(AcFixture, ZeroChannelsLeavesTheCountOpen) {
    EXPECT_EQ(13, Parse41(AcAnalogBlock(0)));
    EXPECT_TRUE(ac.channels.empty());
    EXPECT_EQ(150, Parse41(AcAnalogBlock(1)));
    EXPECT_EQ(1u, ac.channels.size());
}

TEST_F(AcFixture, MarkerFillsDifferBetweenVoltagesAndUserValuesAndCurrents) {
    Bytes block{1};
    PutN(block, 0x20, 4);  // a not provided
    PutN(block, 0x00, 4);  // b zero is a value
    PutF(block, 1.0f); PutF(block, 2.0f);
    Put(block, 30);
    PutN(block, 0x20, 4);  // first user value not provided
    PutN(block, 0x00, 4 * 29);
    PutN(block, 0x20, 4);  // ia not provided
    PutN(block, 0x00, 4);
    PutF(block, 7.0f);
    ASSERT_EQ(static_cast<int>(block.size()), Parse41(block));
    EXPECT_EQ(0u, BitsOf(ac.channels[0].a));
    EXPECT_EQ(0u, BitsOf(ac.channels[0].b));
    EXPECT_EQ(0xBDCCCCCDu, BitsOf(ac.channels[0].analog_user[0]));
    EXPECT_EQ(0u, BitsOf(ac.channels[0].analog_user[1]));
    EXPECT_EQ(0xBDCCCCCDu, BitsOf(ac.tele.ia));
    EXPECT_EQ(0u, BitsOf(ac.tele.ib));
}

TEST_F(AcFixture, WrongUserCountIsLoggedSkippedAndKeepsOldValues) {
    Bytes first{1};
    PutAcChannel(first, 1, 2, 3, 4, 30, 0x11);
    PutF(first, 0); PutF(first, 0); PutF(first, 0);
    ASSERT_EQ(150, Parse41(first));
    Bytes second{1};
    PutAcChannel(second, 5, 6, 7, 8, 29, 0x22);
    PutF(second, 0); PutF(second, 0); PutF(second, 0);
    EXPECT_EQ(static_cast<int>(second.size()), Parse41(second));
    EXPECT_EQ(29, ac.channels[0].analog_p);
    EXPECT_EQ(5.0f, Val(ac.channels[0].a));
    // The first block's user values (all marked) are still there.
    EXPECT_EQ(0xBDCCCCCDu, BitsOf(ac.channels[0].analog_user[29]));
    ASSERT_EQ(1u, controller->logs.size());
    EXPECT_EQ("PMBusPowerAC:ProcotolError 11 read 40_41 p is 29 not 30", controller->logs[0].text);
}

TEST_F(AcFixture, AnalogBlockLongerThanSizeIsRefusedWithTheOverflowLine) {
    const Bytes block = AcAnalogBlock(2);
    EXPECT_EQ(-1, Parse41(block, 286));
    ASSERT_FALSE(controller->logs.empty());
    EXPECT_EQ("PMBusPowerAC:ProcotolError 11 read 40_41 read overflow 287 - 286",
              controller->logs.back().text);
}

// Cutting a valid block anywhere refuses it without reading past the cut;
// under AddressSanitizer the copy on the heap catches any read beyond it.
TEST_F(AcFixture, EveryTruncationOfEveryParserIsRefused) {
    const Bytes analog = AcAnalogBlock(2);
    ASSERT_EQ(287, Parse41(analog));
    Bytes status{0, 13};
    PutN(status, 0x01, 13);
    Bytes alarms{2};
    for (int k = 0; k < 2; ++k) { PutN(alarms, 0, 4); Put(alarms, 0); Put(alarms, 18); PutN(alarms, 0, 18); }
    PutN(alarms, 0, 3);
    ASSERT_EQ(15, ac.parse40_43(status.data(), 15));
    ASSERT_EQ(52, ac.parse40_44(alarms.data(), 52));
    for (size_t cut = 0; cut < analog.size(); ++cut) {
        const Bytes part(analog.begin(), analog.begin() + cut);
        EXPECT_EQ(-1, ac.parse40_41(part.data(), static_cast<int>(cut))) << cut;
    }
    for (size_t cut = 0; cut < status.size(); ++cut) {
        const Bytes part(status.begin(), status.begin() + cut);
        EXPECT_EQ(-1, ac.parse40_43(part.data(), static_cast<int>(cut))) << cut;
    }
    for (size_t cut = 0; cut < alarms.size(); ++cut) {
        const Bytes part(alarms.begin(), alarms.begin() + cut);
        EXPECT_EQ(-1, ac.parse40_44(part.data(), static_cast<int>(cut))) << cut;
    }
}

TEST_F(AcFixture, StatusWithBreakersIsRefusedWithThePrintfLine) {
    const Bytes block = Hex("01 00 0D") ;
    EXPECT_EQ(-1, ac.parse40_43(block.data(), 3));
    EXPECT_EQ(1, ac.tele.airlock_m);
    ASSERT_EQ(1u, controller->logs.size());
    EXPECT_EQ("ProcotolError 11 read 40_43 m is 1 max 0", controller->logs[0].text);
}

TEST_F(AcFixture, StatusBytesAreCopiedAndAWrongCountSkipped) {
    Bytes block{0, 13};
    for (uint8_t i = 0; i < 13; ++i) Put(block, i);
    EXPECT_EQ(15, ac.parse40_43(block.data(), 15));
    EXPECT_EQ(12, ac.tele.status_user[12]);
    const Bytes shorter = Hex("00 02 AA BB");
    EXPECT_EQ(4, ac.parse40_43(shorter.data(), 4));
    EXPECT_EQ(2, ac.tele.status_p);
    EXPECT_EQ(0, ac.tele.status_user[0]);
    EXPECT_EQ("PMBusPowerAC:ProcotolError P11 read 40_43 p is 2 not 13", controller->logs.back().text);
    // A wrong count still has to fit.
    EXPECT_EQ(-1, ac.parse40_43(shorter.data(), 3));
    EXPECT_EQ("PMBusPowerAC:ProcotolError 11 read 40_43 read overflow 4 - 3", controller->logs.back().text);
}

TEST_F(AcFixture, AlarmsBeforeAnyAnalogBlockAreFourBytes) {
    const Bytes block = Hex("05 01 02 03");
    EXPECT_EQ(4, ac.parse40_44(block.data(), 4));
    EXPECT_EQ(1, ac.tele.ia_alert);
    EXPECT_EQ(3, ac.tele.ic_alert);
}

TEST_F(AcFixture, AlarmStatesExtraItemsAndUserBytes) {
    ASSERT_EQ(150, Parse41(AcAnalogBlock(1)));
    Bytes block{1, 1, 2, 3, 0};
    Put(block, 2);  // two extra items, skipped
    PutN(block, 0xEE, 2);
    Put(block, 18);
    for (uint8_t i = 0; i < 18; ++i) Put(block, i);
    Put(block, 0); Put(block, 2); Put(block, 0);
    EXPECT_EQ(static_cast<int>(block.size()), ac.parse40_44(block.data(), static_cast<int>(block.size())));
    EXPECT_EQ(1, ac.channels[0].a_alert);
    EXPECT_EQ(0, ac.channels[0].f_alert);
    EXPECT_EQ(17, ac.channels[0].alarm_user[17]);
    EXPECT_EQ(2, ac.tele.ib_alert);
    EXPECT_EQ("PMBusPowerAC:ProcotolError 11 read 40_44 m is 2", controller->logs.back().text);
}

TEST_F(AcFixture, AlarmUserCountOtherThanEighteenIsSkipped) {
    ASSERT_EQ(150, Parse41(AcAnalogBlock(1)));
    Bytes block{1, 0, 0, 0, 0, 0, 3, 9, 9, 9, 0, 0, 0};
    EXPECT_EQ(13, ac.parse40_44(block.data(), 13));
    EXPECT_EQ(3, ac.channels[0].alarm_p);
    EXPECT_EQ(0, ac.channels[0].alarm_user[0]);
    EXPECT_EQ("PMBusPowerAC:ProcotolError 11 read 40_44 p is 3 not 18", controller->logs.back().text);
}
