// The DC analog parser (0x42 0x41): accepted blocks, the not-provided marker
// of the user-defined values, counts above capacity, the printed head line.
#include <gtest/gtest.h>

#include "DcTestKit.h"

using namespace testing_support;

namespace {
constexpr uint32_t kMinusTenth = 0xBDCCCCCDu;

// Fills every value slot of the record with `byte`, so untouched slots show.
void Prefill(TRM27KDC& dc, uint8_t byte) {
    std::memset(&dc.tele.m_values, byte, sizeof(dc.tele.m_values));
    std::memset(&dc.tele.n_values, byte, sizeof(dc.tele.n_values));
    std::memset(&dc.tele.p_values, byte, sizeof(dc.tele.p_values));
}
}  // namespace

TEST(DcParse41, FullBlockIs279BytesAndStoresEveryValue) {
    BoundDc b;
    const Bytes block = DcAnalogBlock(6, 6, 55);
    ASSERT_EQ(279u, block.size());
    EXPECT_EQ(279, b.Feed41(block));
    const auto& t = b.dc->tele;
    EXPECT_EQ(48.0f, Val(t.v));
    EXPECT_EQ(12.5f, Val(t.i));
    EXPECT_EQ(6, t.dc_m);
    EXPECT_EQ(1.0f, Val(t.m_values[0]));
    EXPECT_EQ(6.0f, Val(t.m_values[5]));
    EXPECT_EQ(6, t.dc_n);
    EXPECT_EQ(106.0f, Val(t.n_values[5]));
    EXPECT_EQ(55, t.p_count);
    EXPECT_EQ(201.0f, Val(t.p_values[0]));
    EXPECT_EQ(255.0f, Val(t.p_values[54]));
    EXPECT_TRUE(b.controller->logs.empty());
}

TEST(DcParse41, SmallerGroupsFillTheFirstSlotsAndKeepTheRest) {
    BoundDc b;
    Prefill(*b.dc, 0x5A);
    const Bytes block = DcAnalogBlock(2, 0, 3);
    ASSERT_EQ(11 + 4 * 5, static_cast<int>(block.size()));
    EXPECT_EQ(31, b.Feed41(block));
    const Bytes rec = RecordBytes(b.dc->tele);
    EXPECT_EQ(2.0f, FloatAt(rec.data(), 13 + 4));
    EXPECT_EQ(0x5A5A5A5Au, BitsOf(FloatAt(rec.data(), 13 + 8)));
    EXPECT_EQ(0, b.dc->tele.dc_n);
    EXPECT_EQ(0x5A5A5A5Au, BitsOf(FloatAt(rec.data(), 38)));
    EXPECT_EQ(203.0f, FloatAt(rec.data(), 63 + 8));
    EXPECT_EQ(0x5A5A5A5Au, BitsOf(FloatAt(rec.data(), 63 + 12)));
}

TEST(DcParse41, EmptyGroupsMakeAnElevenByteBlock) {
    BoundDc b;
    EXPECT_EQ(11, b.Feed41(DcAnalogBlock(0, 0, 0)));
}

// Only the user-defined values honour the marker: four equal non-zero bytes.
TEST(DcParse41, MarkerAppliesOnlyToUserValues) {
    BoundDc b;
    const Bytes marker = Hex("20 20 20 20");
    Bytes block;
    PutBytes(block, marker);              // v
    PutBytes(block, Hex("FF FF FF FF"));  // i
    Put(block, 1);
    PutBytes(block, marker);  // m value
    Put(block, 1);
    PutBytes(block, Hex("7F 7F 7F 7F"));  // n value
    Put(block, 6);
    PutBytes(block, marker);              // p0: marker
    PutBytes(block, Hex("00 00 00 00"));  // p1: an ordinary 0.0
    PutBytes(block, Hex("41 41 41 42"));  // p2: not all equal
    PutBytes(block, Hex("FF FF FF FF"));  // p3: marker
    PutBytes(block, Hex("01 01 01 01"));  // p4: marker
    PutBytes(block, Hex("00 20 20 20"));  // p5: as received
    ASSERT_EQ(static_cast<int>(block.size()), b.Feed41(block));
    const auto& t = b.dc->tele;
    EXPECT_EQ(0x20202020u, BitsOf(t.v));
    EXPECT_EQ(0xFFFFFFFFu, BitsOf(t.i));
    EXPECT_EQ(0x20202020u, BitsOf(t.m_values[0]));
    EXPECT_EQ(0x7F7F7F7Fu, BitsOf(t.n_values[0]));
    EXPECT_EQ(kMinusTenth, BitsOf(t.p_values[0]));
    EXPECT_EQ(0u, BitsOf(t.p_values[1]));
    EXPECT_EQ(0x42414141u, BitsOf(t.p_values[2]));
    EXPECT_EQ(kMinusTenth, BitsOf(t.p_values[3]));
    EXPECT_EQ(kMinusTenth, BitsOf(t.p_values[4]));
    EXPECT_EQ(0x20202000u, BitsOf(t.p_values[5]));
}

TEST(DcParse41, SevenMValuesAreLoggedSteppedOverAndNContinuesAt37) {
    BoundDc b;
    Prefill(*b.dc, 0x5A);
    const Bytes block = DcAnalogBlock(48.0f, 1.0f, Floats(7, 1.0f), Floats(2, 101.0f), {});
    ASSERT_EQ(11 + 4 * 9, static_cast<int>(block.size()));
    ASSERT_EQ(2, block[37]);  // n sits at offset 9 + 4 x 7
    EXPECT_EQ(47, b.Feed41(block));
    EXPECT_EQ(7, b.dc->tele.dc_m);
    for (int k = 0; k < 6; ++k) EXPECT_EQ(0x5A5A5A5Au, BitsOf(b.dc->tele.m_values[k]));
    EXPECT_EQ(2, b.dc->tele.dc_n);
    EXPECT_EQ(102.0f, Val(b.dc->tele.n_values[1]));
    ASSERT_EQ(1u, b.controller->logs.size());
    EXPECT_EQ("PMBusPowerDC<TeleDC, RT_DC>:ProcotolError 21 read dc_m is 7, MAX_M is 6",
              b.LastLog());
    EXPECT_EQ((std::vector<std::string>{"21", "7", "6"}), b.controller->logs[0].args);
}

TEST(DcParse41, NAboveSixIsLoggedAndSteppedOver) {
    BoundDc b;
    Prefill(*b.dc, 0x5A);
    const Bytes block =
        DcAnalogBlock(48.0f, 1.0f, Floats(1, 1.0f), Floats(200, 101.0f), Raw(Floats(1, 9.0f)));
    EXPECT_EQ(static_cast<int>(block.size()), b.Feed41(block));
    EXPECT_EQ(200, b.dc->tele.dc_n);
    EXPECT_EQ(0x5A5A5A5Au, BitsOf(b.dc->tele.n_values[0]));
    EXPECT_EQ(9.0f, Val(b.dc->tele.p_values[0]));
    EXPECT_EQ("PMBusPowerDC<TeleDC, RT_DC>:ProcotolError 21 read dc_n is 200, MAX_N is 6",
              b.LastLog());
}

// A user-defined count above 55 is logged and its values stepped over, as m
// and n are: the block ends after them, so the next screen's block is found.
TEST(DcParse41, FiftySixUserValuesAreLoggedAndSteppedOver) {
    BoundDc b;
    Prefill(*b.dc, 0x5A);
    Bytes block = DcAnalogBlock(1, 1, 0);
    block.back() = 56;  // the p count
    PutN(block, 0x00, 4 * 56);
    const int end = static_cast<int>(block.size());
    PutN(block, 0xEE, 10);  // the next screen's block
    EXPECT_EQ(end, b.Feed41(block));
    EXPECT_EQ(56, b.dc->tele.p_count);
    EXPECT_EQ(0x5A5A5A5Au, BitsOf(b.dc->tele.p_values[0]));
    ASSERT_EQ(1u, b.controller->logs.size());
    EXPECT_EQ(
        "PMBusPowerDC<TeleDC, RT_DC>:ProcotolError 21 read p_count is 56, support user_p max is "
        "55",
        b.LastLog());
}

// Above 55 the user values are stepped over only when all of them are in the
// reply; otherwise the block has no end to find and takes the rest of the
// reply, `len`, with the p_count line and no overflow line. At 55 values that
// do not fit are still the block's overflow.
TEST(DcParse41, UserValuesAboveCapacityAreSteppedOverOnlyWhenAllAreInTheReply) {
    enum class Outcome { BlockEnd, Len, Refused };
    const struct {
        uint8_t p;
        int missing;   // bytes of the user values cut off the block
        int trailing;  // bytes of a next block after it
        Outcome outcome;
    } cases[] = {
        {56, 0, 10, Outcome::BlockEnd}, {56, 0, 0, Outcome::BlockEnd},
        {255, 0, 3, Outcome::BlockEnd}, {56, 1, 0, Outcome::Len},
        {56, 4 * 56, 0, Outcome::Len},  {255, 4, 0, Outcome::Len},
        {55, 1, 0, Outcome::Refused},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::Message() << int(c.p) << " -" << c.missing << " +" << c.trailing);
        BoundDc b;
        Prefill(*b.dc, 0x5A);
        Bytes reply = DcAnalogBlock(1, 1, c.p);
        const int end = static_cast<int>(reply.size());
        PutN(reply, 0xEE, static_cast<size_t>(c.trailing));
        const int len = end - c.missing + c.trailing;
        ::testing::internal::CaptureStdout();  // the parser's head line
        const int got = b.Feed41(reply, len);
        ::testing::internal::GetCapturedStdout();
        EXPECT_EQ(c.p, b.dc->tele.p_count);
        if (c.outcome == Outcome::Refused) {
            EXPECT_EQ(-1, got);
            ASSERT_EQ(1u, b.controller->logs.size());
            EXPECT_EQ("PMBusPowerAC:ProcotolError 21 read 42_41 read overflow " +
                          std::to_string(end) + " - " + std::to_string(len),
                      b.LastLog());
            continue;
        }
        EXPECT_EQ(c.outcome == Outcome::BlockEnd ? end : len, got);
        EXPECT_EQ(0x5A5A5A5Au, BitsOf(b.dc->tele.p_values[0]));
        EXPECT_EQ(0x5A5A5A5Au, BitsOf(b.dc->tele.p_values[54]));
        ASSERT_EQ(1u, b.controller->logs.size());
        EXPECT_EQ((std::vector<std::string>{"21", std::to_string(c.p), "55"}),
                  b.controller->logs[0].args);
    }
}

TEST(DcParse41, DeclaredLengthOneBeyondLenIsRefusedWithTheOverflowLine) {
    BoundDc b;
    const Bytes block = DcAnalogBlock(6, 6, 55);
    EXPECT_EQ(-1, b.Feed41(block, 278));
    ASSERT_EQ(1u, b.controller->logs.size());
    EXPECT_EQ("PMBusPowerAC:ProcotolError 21 read 42_41 read overflow 279 - 278", b.LastLog());
    EXPECT_EQ((std::vector<std::string>{"21", "279", "278"}), b.controller->logs[0].args);
    // Values are read one by one: all but the last user value were stored.
    EXPECT_EQ(48.0f, Val(b.dc->tele.v));
    EXPECT_EQ(106.0f, Val(b.dc->tele.n_values[5]));
    EXPECT_EQ(55, b.dc->tele.p_count);
    EXPECT_EQ(201.0f, Val(b.dc->tele.p_values[0]));
    EXPECT_EQ(254.0f, Val(b.dc->tele.p_values[53]));
    EXPECT_EQ(0.0f, Val(b.dc->tele.p_values[54]));
}

// A skipped group must fit too.
TEST(DcParse41, SteppedOverGroupPastLenIsRefused) {
    BoundDc b;
    const Bytes block = DcAnalogBlock(48.0f, 1.0f, Floats(7, 1.0f), {}, {});
    EXPECT_EQ(-1, b.Feed41(block, 36));
    ASSERT_EQ(2u, b.controller->logs.size());
    EXPECT_EQ("PMBusPowerAC:ProcotolError 21 read 42_41 read overflow 37 - 36", b.LastLog());
}

TEST(DcParse41, ParsersLeaveReadinessTimeAndStampAlone) {
    BoundDc b;
    std::memset(&b.dc->tele.ttime, 0x77, 7);
    EXPECT_EQ(279, b.Feed41(DcAnalogBlock(6, 6, 55)));
    EXPECT_EQ(160, b.Feed44(DcAlarmBlock(0, Bytes(6, 0), Bytes(151, 0))));
    EXPECT_FALSE(b.dc->DataReady());
    EXPECT_TRUE(b.dc->UpdateTime().is_not_a_date_time());
    EXPECT_EQ(Bytes(7, 0x77), Bytes(b.dc->tele.ttime, b.dc->tele.ttime + 7));
    EXPECT_EQ(21u, Val(b.dc->tele.id));
}

// Blocks follow each other in a reply at any alignment.
TEST(DcParse41, MisalignedBlockParsesTheSame) {
    BoundDc b;
    const Bytes block = DcAnalogBlock(3, 2, 5);
    Bytes shifted{0xEE};
    PutBytes(shifted, block);
    EXPECT_EQ(static_cast<int>(block.size()),
              b.dc->parse42_41(shifted.data() + 1, static_cast<int>(block.size())));
    EXPECT_EQ(3.0f, Val(b.dc->tele.m_values[2]));
    EXPECT_EQ(205.0f, Val(b.dc->tele.p_values[4]));
}

TEST(DcParse41, HeadLineShowsTheFirstFourBytesWithinLen) {
    BoundDc b;
    const Bytes block = Hex("0A 1B 2C 3D 00 00 00 00 00 00 00");
    const struct {
        int len;
        const char* line;
    } cases[] = {
        {11, "parse 42 41: a 1b 2c 3d\n"},
        {4, "parse 42 41: a 1b 2c 3d\n"},
        {3, "parse 42 41: a 1b 2c\n"},
        {1, "parse 42 41: a\n"},
        {0, "parse 42 41:\n"},
    };
    for (const auto& c : cases) {
        ::testing::internal::CaptureStdout();
        b.Feed41(block, c.len);
        EXPECT_EQ(c.line, ::testing::internal::GetCapturedStdout()) << c.len;
    }
}
