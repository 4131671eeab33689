// The DC alarm parser (0x42 0x44): accepted blocks, fuse states clamped
// without a log line, user-defined alarm bytes clamped with one, refusals.
#include <gtest/gtest.h>

#include "DcTestKit.h"

using namespace testing_support;

TEST(DcParse44, FullBlockIs160BytesAndStoresEveryByte) {
    BoundDc b;
    const Bytes block = DcAlarmBlock(2, Iota(6, 1), Iota(151, 0x10));
    ASSERT_EQ(160u, block.size());
    EXPECT_EQ(160, b.Feed44(block));
    const auto& t = b.dc->tele;
    EXPECT_EQ(2, t.v_alarm);
    EXPECT_EQ(6, t.alert_m_count);
    EXPECT_EQ(Iota(6, 1), Bytes(t.alert_m, t.alert_m + 6));
    EXPECT_EQ(151, t.alert_p_count);
    EXPECT_EQ(Iota(151, 0x10), Bytes(t.alert_p, t.alert_p + 151));
    EXPECT_TRUE(b.controller->logs.empty());
}

TEST(DcParse44, EmptyGroupsMakeAThreeByteBlock) {
    BoundDc b;
    EXPECT_EQ(3, b.Feed44(DcAlarmBlock(1, {}, {})));
    EXPECT_EQ(0, b.dc->tele.alert_m_count);
    EXPECT_EQ(0, b.dc->tele.alert_p_count);
}

TEST(DcParse44, ShorterGroupsFillTheFirstSlotsAndKeepTheRest) {
    BoundDc b;
    std::memset(&b.dc->tele.alert_m, 0x5A, 6);
    std::memset(&b.dc->tele.alert_p, 0x5A, 151);
    EXPECT_EQ(3 + 2 + 4, b.Feed44(DcAlarmBlock(0, Iota(2, 1), Iota(4, 1))));
    const auto& t = b.dc->tele;
    EXPECT_EQ((Bytes{1, 2, 0x5A, 0x5A, 0x5A, 0x5A}), Bytes(t.alert_m, t.alert_m + 6));
    EXPECT_EQ((Bytes{1, 2, 3, 4, 0x5A}), Bytes(t.alert_p, t.alert_p + 5));
}

TEST(DcParse44, SevenFusesCopySixLogNothingAndStepOverSeven) {
    BoundDc b;
    const Bytes block = DcAlarmBlock(0, Iota(7, 1), Iota(3, 0xA0));
    EXPECT_EQ(3 + 7 + 3, b.Feed44(block));
    const auto& t = b.dc->tele;
    EXPECT_EQ(7, t.alert_m_count);
    EXPECT_EQ(Iota(6, 1), Bytes(t.alert_m, t.alert_m + 6));
    EXPECT_EQ(3, t.alert_p_count);
    EXPECT_EQ(Iota(3, 0xA0), Bytes(t.alert_p, t.alert_p + 3));
    EXPECT_TRUE(b.controller->logs.empty());
}

TEST(DcParse44, UserCount152IsLoggedClampedTo151AndSteppedOver) {
    BoundDc b;
    std::memset(&b.dc->tele.ttime, 0x77, 7);
    const Bytes block = DcAlarmBlock(0, Iota(6, 0), Bytes(152, 0xC1));
    ASSERT_EQ(161u, block.size());
    EXPECT_EQ(161, b.Feed44(block));
    const auto& t = b.dc->tele;
    EXPECT_EQ(152, t.alert_p_count);
    EXPECT_EQ(Bytes(151, 0xC1), Bytes(t.alert_p, t.alert_p + 151));
    EXPECT_EQ(0x77, t.ttime[0]);  // the 152nd byte is not stored
    ASSERT_EQ(1u, b.controller->logs.size());
    EXPECT_EQ("PMBusPowerDC<TeleDC, RT_DC>:ProcotolError 21 read 42_44 p is 152,  alert_p is 151",
              b.LastLog());
    EXPECT_EQ((std::vector<std::string>{"21", "152", "151"}), b.controller->logs[0].args);
}

TEST(DcParse44, DeclaredLengthOneBeyondLenIsRefusedWithTheOverflowLine) {
    BoundDc b;
    const Bytes block = DcAlarmBlock(1, Iota(6, 1), Iota(151, 0));
    EXPECT_EQ(-1, b.Feed44(block, 159));
    ASSERT_EQ(1u, b.controller->logs.size());
    EXPECT_EQ("PMBusPowerAC:ProcotolError 21 read 42_44 read overflow 160 - 159", b.LastLog());
    // What came before the user group stays; the group itself was not stored.
    EXPECT_EQ(1, b.dc->tele.v_alarm);
    EXPECT_EQ(6, b.dc->tele.alert_m[5]);
    EXPECT_EQ(151, b.dc->tele.alert_p_count);
    EXPECT_EQ(0, b.dc->tele.alert_p[1]);
}

// A clamped group is copied as far as its slots go, then stepped over; when
// only the step does not fit, the copy stays.
TEST(DcParse44, ClampedGroupsPastLenKeepWhatWasCopied) {
    BoundDc b;
    const Bytes fuses = DcAlarmBlock(0, Iota(7, 1), {});
    EXPECT_EQ(-1, b.Feed44(fuses, 8));
    EXPECT_EQ("PMBusPowerAC:ProcotolError 21 read 42_44 read overflow 9 - 8", b.LastLog());
    EXPECT_EQ(Iota(6, 1), Bytes(b.dc->tele.alert_m, b.dc->tele.alert_m + 6));
    const Bytes user = DcAlarmBlock(0, {}, Bytes(200, 1));
    EXPECT_EQ(-1, b.Feed44(user, 202));
    EXPECT_EQ(Bytes(151, 1), Bytes(b.dc->tele.alert_p, b.dc->tele.alert_p + 151));
    ASSERT_GE(b.controller->logs.size(), 2u);
    EXPECT_EQ("PMBusPowerDC<TeleDC, RT_DC>:ProcotolError 21 read 42_44 p is 200,  alert_p is 151",
              b.controller->logs[b.controller->logs.size() - 2].text);
    EXPECT_EQ("PMBusPowerAC:ProcotolError 21 read 42_44 read overflow 203 - 202", b.LastLog());
}

TEST(DcParse44, MisalignedBlockParsesTheSame) {
    BoundDc b;
    const Bytes block = DcAlarmBlock(2, Iota(6, 1), Iota(151, 0));
    Bytes shifted{0xEE, 0xEE, 0xEE};
    PutBytes(shifted, block);
    EXPECT_EQ(160, b.dc->parse42_44(shifted.data() + 3, 160));
    EXPECT_EQ(150, b.dc->tele.alert_p[150]);
}
