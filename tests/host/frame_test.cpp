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

namespace {
// Frames worked out by hand: VER 21, ADR 01, CID1 40, RTN 00, INFO 01 02.
// LENID 4 -> LCHKSUM C -> "C004"; the character sum of "21014000C0040102"
// is 0x0322, so CHKSUM is 0xFCDE.
const std::string kReplyBody = "21014000C0040102FCDE";

host::FrameError Decode(const std::string& body, host::DecodedFrame& out) {
    return host::DecodeFrame(body.data(), body.size(), out);
}
}  // namespace

TEST(FrameDecode, HandComputedReplyDecodesToItsFields) {
    host::DecodedFrame f;
    ASSERT_EQ(host::FrameError::None, Decode(kReplyBody, f));
    EXPECT_EQ(0x21, f.ver);
    EXPECT_EQ(0x01, f.adr);
    EXPECT_EQ(0x40, f.cid1);
    EXPECT_EQ(0x00, f.cid2);
    EXPECT_EQ(4, f.lenid);
    EXPECT_EQ((std::vector<uint8_t>{1, 2}), f.info);
    std::vector<uint8_t> reply;
    host::ToReplyBytes(f, reply);
    EXPECT_EQ((std::vector<uint8_t>{0x21, 0x01, 0x40, 0x00, 4, 0, 1, 2}), reply);
}

TEST(FrameDecode, EncoderOutputDecodesBack) {
    std::string out;
    const uint8_t info[3] = {0x00, 0xFF, 0x7A};
    host::EncodeFrame(0x21, 0x05, 0x42, 0x00, info, 3, out);
    host::DecodedFrame f;
    ASSERT_EQ(host::FrameError::None, host::DecodeFrame(out.data() + 1, out.size() - 2, f));
    EXPECT_EQ((std::vector<uint8_t>{0x00, 0xFF, 0x7A}), f.info);
    EXPECT_EQ(0x05, f.adr);
}

TEST(FrameDecode, EveryKindOfBadFrameIsNamed) {
    using E = host::FrameError;
    host::DecodedFrame f;
    std::string lower = kReplyBody;
    lower[17] = 'c';
    EXPECT_EQ(E::BadCharacter, Decode(lower, f));
    EXPECT_EQ(E::BadCharacter, Decode("2101400 C0040102FCDE", f));
    EXPECT_EQ(E::OddLength, Decode(kReplyBody.substr(1), f));
    EXPECT_EQ(E::TooShort, Decode("2101400000", f));
    std::string chk = kReplyBody;
    chk[19] = '1';
    EXPECT_EQ(E::Checksum, Decode(chk, f));
    // LENID 4 with LCHKSUM 0: the checksum fixed to match the changed text.
    EXPECT_EQ(E::LengthChecksum, Decode("2101400000040102FCF1", f));
    // LENID 2 (LCHKSUM E) with four INFO characters; "E002" sums like "C004".
    EXPECT_EQ(E::LengthMismatch, Decode("21014000E0020102FCDE", f));
}

TEST(FrameReceive, SkipsNoiseSplitsAtCrAndRestartsOnTilde) {
    host::FrameReceiver rx;
    std::vector<std::string> bodies;
    int overflows = 0;
    const std::string stream = "xx~AB~" + kReplyBody + "\r junk ~12\r";
    rx.Feed(reinterpret_cast<const uint8_t*>(stream.data()), stream.size(),
            [&](const char* b, size_t n) { bodies.emplace_back(b, n); }, [&] { ++overflows; });
    EXPECT_EQ((std::vector<std::string>{kReplyBody, "12"}), bodies);
    const std::string huge = "~" + std::string(host::FrameReceiver::kMaxBody + 5, 'A');
    rx.Feed(reinterpret_cast<const uint8_t*>(huge.data()), huge.size(),
            [&](const char*, size_t) {}, [&] { ++overflows; });
    EXPECT_EQ(1, overflows);
    EXPECT_FALSE(rx.InFrame());
}

// The poll reads a reply's size from its LENGTH before the rest arrives: the
// whole frame counted from the first byte received (noise before '~'
// included), nothing from a header still incomplete or a LENGTH whose own
// checksum fails.
TEST(FrameExpect, TheHeaderTellsTheWholeFramesSize) {
    const uint8_t info[3] = {0x10, 0x20, 0x30};
    std::string frame;
    host::EncodeFrame(0x21, 0x01, 0x40, 0x00, info, 3, frame);
    std::string bare;
    host::EncodeFrame(0x21, 0x01, 0x40, 0x51, nullptr, 0, bare);
    std::string lying = frame;
    lying[9] = lying[9] == 'F' ? 'E' : 'F';  // LCHKSUM no longer fits LENID
    struct Case {
        std::string bytes;
        size_t count;
        size_t expected;
    };
    const Case kCases[] = {
        {frame, frame.size(), frame.size()},
        {frame, 13, frame.size()},         // the header alone is enough
        {frame, 12, 0},                    // LENGTH not complete yet
        {"\x05\x05" + frame, 15, frame.size() + 2},
        {bare, 13, bare.size()},           // no INFO: LENGTH 0000
        {lying, lying.size(), 0},
        {"0000000000000000", 16, 0},       // no frame start
    };
    for (const Case& c : kCases) {
        EXPECT_EQ(c.expected, host::ExpectedFrameBytes(reinterpret_cast<const uint8_t*>(c.bytes.data()), c.count))
            << c.bytes.substr(0, c.count);
    }
}
