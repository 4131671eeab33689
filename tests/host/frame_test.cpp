// The command frame encoder on frames worked out by hand.
#include <gtest/gtest.h>

#include "pmbus_frame.h"

TEST(FrameEncode, ModelQueryHasNoInfo) {
    std::string out;
    host::EncodeFrame(0x21, 0x01, 0x40, 0x51, nullptr, 0, out);
    EXPECT_EQ("~210140510000FDB2\r", out);
}

TEST(FrameEncode, AcAnalogQueryCarriesCommandGroup) {
    const uint8_t info = 0xFF;
    std::string out;
    host::EncodeFrame(0x21, 0x01, 0x40, 0x41, &info, 1, out);
    EXPECT_EQ("~21014041E002FFFD10\r", out);
}

TEST(FrameEncode, LengthChecksumOverTheThreeNibbles) {
    EXPECT_EQ(0x0000, host::FrameLength(0));
    EXPECT_EQ(0xE002, host::FrameLength(2));
    // LENID 0x012: nibbles 0+1+2 = 3, two's complement 0xD.
    EXPECT_EQ(0xD012, host::FrameLength(0x012));
    // LENID 0xFFF: 45 = 0x2D, two's complement low nibble 0x3.
    EXPECT_EQ(0x3FFF, host::FrameLength(0xFFF));
}
