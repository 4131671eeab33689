// Every valid DC block cut at every length: refused with -1 and the overflow
// line, whose reached length is the end of the first field or group that did
// not fit. Each cut is parsed from a heap copy of exactly that many bytes, so
// AddressSanitizer reports any read beyond it.
#include <gtest/gtest.h>

#include <algorithm>

#include "DcTestKit.h"

using namespace testing_support;

namespace {
// The end of the first field in `ends` (ascending) that passes `cut`.
int ReachedAt(const std::vector<int>& ends, int cut) {
    return *std::upper_bound(ends.begin(), ends.end(), cut);
}

// Where each field of a block ends, from the fields' widths in order.
std::vector<int> FieldEnds(std::initializer_list<int> widths) {
    std::vector<int> ends;
    int at = 0;
    for (int width : widths) ends.push_back(at += width);
    return ends;
}

struct Shape41 {
    uint8_t m, n, p;
};
struct Shape44 {
    uint8_t m, p;
};

std::string Overflow(const char* which, int reached, int len) {
    return std::string("PMBusPowerAC:ProcotolError 21 read ") + which + " read overflow " +
           std::to_string(reached) + " - " + std::to_string(len);
}
}  // namespace

TEST(DcTruncation, EveryCutOfAnAnalogBlockIsRefused) {
    ::testing::internal::CaptureStdout();  // the parser's head lines
    const Shape41 shapes[] = {{6, 6, 55}, {0, 0, 0}, {1, 0, 2}, {0, 3, 0}, {7, 6, 1}, {2, 9, 55}};
    for (const auto& s : shapes) {
        const Bytes block = DcAnalogBlock(s.m, s.n, s.p);
        const int m = s.m, n = s.n, p = s.p;
        const std::vector<int> ends = FieldEnds({4, 4, 1, 4 * m, 1, 4 * n, 1, 4 * p});
        ASSERT_EQ(ends.back(), static_cast<int>(block.size()));
        for (int cut = 0; cut < ends.back(); ++cut) {
            BoundDc b;
            EXPECT_EQ(-1, b.Feed41(block, cut)) << int(s.m) << "/" << cut;
            EXPECT_EQ(Overflow("42_41", ReachedAt(ends, cut), cut), b.LastLog()) << cut;
            size_t countLines = 0;  // a count above capacity is logged once it is read
            if (s.m > 6 && cut >= 9) ++countLines;
            if (s.n > 6 && cut >= 10 + 4 * m) ++countLines;
            EXPECT_EQ(countLines + 1, b.controller->logs.size()) << cut;
        }
        BoundDc whole;
        EXPECT_EQ(ends.back(), whole.Feed41(block));
    }
    ::testing::internal::GetCapturedStdout();
}

// With a user count above 55 the block ends at the count: cuts before it are
// refused, every cut from it on returns the cut.
TEST(DcTruncation, CutsOfAnOversizedUserCountBlock) {
    Bytes block = DcAnalogBlock(2, 1, 0);
    block.back() = 56;
    PutN(block, 0x20, 20);
    const int countEnd = 11 + 4 * 3;
    ::testing::internal::CaptureStdout();
    for (int cut = 0; cut <= static_cast<int>(block.size()); ++cut) {
        BoundDc b;
        if (cut < countEnd) {
            EXPECT_EQ(-1, b.Feed41(block, cut)) << cut;
            EXPECT_NE(std::string::npos, b.LastLog().find("read overflow")) << cut;
        } else {
            EXPECT_EQ(cut, b.Feed41(block, cut)) << cut;
            EXPECT_NE(std::string::npos, b.LastLog().find("p_count is 56")) << cut;
        }
    }
    ::testing::internal::GetCapturedStdout();
}

TEST(DcTruncation, EveryCutOfAnAlarmBlockIsRefused) {
    const Shape44 shapes[] = {{6, 151}, {0, 0}, {3, 1}, {7, 152}, {0, 200}, {255, 0}};
    for (const auto& s : shapes) {
        const Bytes block = DcAlarmBlock(1, Bytes(s.m, 3), Bytes(s.p, 0x81));
        const int m = s.m, p = s.p;
        const std::vector<int> ends = FieldEnds({1, 1, m, 1, p});
        ASSERT_EQ(ends.back(), static_cast<int>(block.size()));
        for (int cut = 0; cut < ends.back(); ++cut) {
            BoundDc b;
            EXPECT_EQ(-1, b.Feed44(block, cut)) << int(s.m) << "/" << cut;
            EXPECT_EQ(Overflow("42_44", ReachedAt(ends, cut), cut), b.LastLog()) << cut;
            const size_t countLines = (s.p > 151 && cut >= 3 + m) ? 1 : 0;
            EXPECT_EQ(countLines + 1, b.controller->logs.size()) << cut;
        }
        BoundDc whole;
        EXPECT_EQ(ends.back(), whole.Feed44(block));
    }
}

// A negative count of bytes is refused like an empty block.
TEST(DcTruncation, NegativeLenIsRefused) {
    BoundDc b;
    const Bytes block = DcAnalogBlock(0, 0, 0);
    EXPECT_EQ(-1, b.dc->parse42_41(block.data(), -5));
    EXPECT_EQ(Overflow("42_41", 4, -5), b.LastLog());
    EXPECT_EQ(-1, b.dc->parse42_44(block.data(), -1));
    EXPECT_EQ(Overflow("42_44", 1, -1), b.LastLog());
    EXPECT_EQ(0.0f, Val(b.dc->tele.v));
}
