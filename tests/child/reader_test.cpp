// The bounded reader and the 4-byte value conventions every parser relies on.
#include <gtest/gtest.h>

#include "Bytes.h"
#include "PayloadReader.h"
#include "Value4.h"

using child::Marker;
using child::PayloadReader;
using testing_support::BitsOf;

TEST(Reader, ReadsWithinTheCountAndRefusesBeyondIt) {
    const uint8_t data[3] = {1, 2, 3};
    PayloadReader r(data, 3);
    uint8_t b = 0;
    ASSERT_TRUE(r.u8(b));
    EXPECT_EQ(1, b);
    uint8_t two[2] = {};
    ASSERT_TRUE(r.copy(two, 2));
    EXPECT_EQ(3, two[1]);
    EXPECT_EQ(0, r.remaining());
    EXPECT_FALSE(r.u8(b));
    EXPECT_EQ(4, r.position());  // the length the refused read would have reached
}

TEST(Reader, RefusalIsStickyAndReportsTheFailingField) {
    const uint8_t data[5] = {};
    PayloadReader r(data, 5);
    EXPECT_TRUE(r.skip(2));
    uint8_t four[4];
    EXPECT_FALSE(r.copy(four, 4));
    EXPECT_EQ(6, r.position());
    EXPECT_TRUE(r.failed());
    EXPECT_FALSE(r.skip(0));
    EXPECT_EQ(6, r.position());
}

TEST(Reader, NegativeSizeIsAnEmptyBlockAndNegativeCountsRefuse) {
    const uint8_t data[1] = {9};
    PayloadReader r(data, -5);
    uint8_t b;
    EXPECT_FALSE(r.u8(b));
    PayloadReader s(data, 1);
    EXPECT_FALSE(s.skip(-1));
}

TEST(Value4, MarkerRulesDifferOnlyInFourZeroBytes) {
    const uint8_t spaces[4] = {0x20, 0x20, 0x20, 0x20};
    const uint8_t zeros[4] = {0, 0, 0, 0};
    const uint8_t mixed[4] = {0x12, 0x12, 0x12, 0x13};
    EXPECT_TRUE(child::IsMarker(spaces, Marker::EqualNonZero));
    EXPECT_TRUE(child::IsMarker(spaces, Marker::EqualAny));
    EXPECT_FALSE(child::IsMarker(zeros, Marker::EqualNonZero));
    EXPECT_TRUE(child::IsMarker(zeros, Marker::EqualAny));
    EXPECT_FALSE(child::IsMarker(mixed, Marker::EqualAny));
    EXPECT_FALSE(child::IsMarker(spaces, Marker::None));
}

TEST(Value4, MarkedValueStoresTheFillOthersAreCopiedUnchanged) {
    const uint8_t data[8] = {0xFF, 0xFF, 0xFF, 0xFF, 0x00, 0x00, 0x80, 0x3F};
    PayloadReader r(data, 8);
    float out[2] = {};
    ASSERT_TRUE(child::ReadValues(r, out, 2, Marker::EqualNonZero, child::kFillMinusTenth));
    EXPECT_EQ(0xBDCCCCCDu, BitsOf(out[0]));
    EXPECT_EQ(1.0f, out[1]);
}
