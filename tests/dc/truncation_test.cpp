// Every valid DC block cut at every length: refused with -1 and the overflow
// line, whose reached length is the end of the first field, copy or step that
// did not fit; what came before it is stored. Each cut is parsed from a heap
// copy of exactly that many bytes, so AddressSanitizer reports any read
// beyond it.
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

namespace {
// The pieces of a 42/41 block in reading order: v, i, m, the m values (one
// copy, or one step when above 6), n and its values alike, p, then each user
// value on its own. More than 55 user values that are cut end the block at
// the cut instead of refusing it (parse41_test.cpp), so they are no piece.
std::vector<int> AnalogPieces(const Shape41& s) {
    std::vector<int> widths = {4, 4, 1, 4 * s.m, 1, 4 * s.n, 1};
    if (s.p <= 55) widths.insert(widths.end(), s.p, 4);
    return widths;
}
}  // namespace

TEST(DcTruncation, EveryCutOfAnAnalogBlockIsRefused) {
    ::testing::internal::CaptureStdout();  // the parser's head lines
    const Shape41 shapes[] = {{6, 6, 55}, {0, 0, 0}, {1, 0, 2}, {0, 3, 0}, {7, 6, 1}, {2, 9, 55},
                              {0, 1, 56}};
    for (const auto& s : shapes) {
        const Bytes block = DcAnalogBlock(s.m, s.n, s.p);
        const int m = s.m;
        std::vector<int> ends;
        int at = 0;
        for (int width : AnalogPieces(s)) ends.push_back(at += width);
        const int size = static_cast<int>(block.size());
        ASSERT_EQ(ends.back() + (s.p > 55 ? 4 * s.p : 0), size);
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
        EXPECT_EQ(size, whole.Feed41(block));
    }
    ::testing::internal::GetCapturedStdout();
}

// Ten user values with 25 bytes: the three that fit are stored, the fourth
// is the overflow at 27.
TEST(DcTruncation, UserValuesBeforeTheCutAreStored) {
    ::testing::internal::CaptureStdout();
    BoundDc b;
    const Bytes block = DcAnalogBlock(0, 0, 10);
    EXPECT_EQ(-1, b.Feed41(block, 25));
    ::testing::internal::GetCapturedStdout();
    EXPECT_EQ(Overflow("42_41", 27, 25), b.LastLog());
    EXPECT_EQ(10, b.dc->tele.p_count);
    EXPECT_EQ(201.0f, Val(b.dc->tele.p_values[0]));
    EXPECT_EQ(203.0f, Val(b.dc->tele.p_values[2]));
    EXPECT_EQ(0.0f, Val(b.dc->tele.p_values[3]));
}

// The pieces of a 42/44 block: v_alarm, m, the fuse bytes that fit the slots
// (one copy) and a step over the rest, p, the user bytes alike.
TEST(DcTruncation, EveryCutOfAnAlarmBlockIsRefused) {
    const Shape44 shapes[] = {{6, 151}, {0, 0}, {3, 1}, {7, 152}, {0, 200}, {255, 0}};
    for (const auto& s : shapes) {
        const Bytes block = DcAlarmBlock(1, Bytes(s.m, 3), Bytes(s.p, 0x81));
        const int m = s.m, p = s.p;
        const int keptM = std::min(m, 6), keptP = std::min(p, 151);
        const std::vector<int> ends = FieldEnds({1, 1, keptM, m - keptM, 1, keptP, p - keptP});
        ASSERT_EQ(ends.back(), static_cast<int>(block.size()));
        for (int cut = 0; cut < ends.back(); ++cut) {
            BoundDc b;
            EXPECT_EQ(-1, b.Feed44(block, cut)) << int(s.m) << "/" << cut;
            EXPECT_EQ(Overflow("42_44", ReachedAt(ends, cut), cut), b.LastLog()) << cut;
            const size_t countLines = (s.p > 151 && cut >= 3 + m) ? 1 : 0;
            EXPECT_EQ(countLines + 1, b.controller->logs.size()) << cut;
            // The copies that fitted are stored.
            const bool fusesFit = cut >= 2 + keptM;
            EXPECT_EQ(fusesFit && keptM > 0 ? 3 : 0, b.dc->tele.alert_m[0]) << cut;
            const bool userFit = cut >= 3 + m + keptP;
            EXPECT_EQ(userFit && keptP > 0 ? 0x81 : 0, b.dc->tele.alert_p[0]) << cut;
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
