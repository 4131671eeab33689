#include "pmbus_frame.h"

#include <algorithm>
#include <cstring>

namespace host {

namespace {
constexpr char kHex[] = "0123456789ABCDEF";

void PutHex(std::string& out, uint8_t byte) {
    out += kHex[byte >> 4];
    out += kHex[byte & 0xF];
}
}  // namespace

uint16_t FrameLength(uint16_t lenid) {
    lenid &= 0x0FFF;
    if (lenid == 0) return 0;
    const unsigned sum = (lenid & 0xF) + ((lenid >> 4) & 0xF) + ((lenid >> 8) & 0xF);
    const unsigned lchk = (~sum + 1) & 0xF;
    return static_cast<uint16_t>((lchk << 12) | lenid);
}

void EncodeFrame(uint8_t ver, uint8_t adr, uint8_t cid1, uint8_t cid2, const uint8_t* info,
                 size_t infoLength, std::string& out) {
    out.clear();
    out += kFrameStart;
    PutHex(out, ver);
    PutHex(out, adr);
    PutHex(out, cid1);
    PutHex(out, cid2);
    const uint16_t length = FrameLength(static_cast<uint16_t>(infoLength * 2));
    PutHex(out, static_cast<uint8_t>(length >> 8));
    PutHex(out, static_cast<uint8_t>(length & 0xFF));
    for (size_t i = 0; i < infoLength; ++i) PutHex(out, info[i]);
    unsigned sum = 0;
    for (size_t i = 1; i < out.size(); ++i) sum += static_cast<unsigned char>(out[i]);
    const unsigned chk = (~sum + 1) & 0xFFFF;
    PutHex(out, static_cast<uint8_t>(chk >> 8));
    PutHex(out, static_cast<uint8_t>(chk & 0xFF));
    out += kFrameEnd;
}

}  // namespace host

namespace host {

namespace {
int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

bool ByteAt(const char* p, uint8_t& out) {
    const int high = HexValue(p[0]);
    const int low = HexValue(p[1]);
    if (high < 0 || low < 0) return false;
    out = static_cast<uint8_t>(high * 16 + low);
    return true;
}

constexpr size_t kHeader = 12;   // VER ADR CID1 CID2 LENGTH
constexpr size_t kChecksum = 4;

// LENID from the LENGTH field of a frame body (the characters after '~');
// false when the field is not hex or its LCHKSUM does not match.
bool ReadLenid(const char* body, uint16_t& lenid) {
    uint8_t high = 0, low = 0;
    if (!ByteAt(body + 8, high) || !ByteAt(body + 10, low)) return false;
    const uint16_t field = static_cast<uint16_t>(high << 8 | low);
    lenid = field & 0x0FFF;
    return FrameLength(lenid) == field;
}
}  // namespace

const char* FrameErrorText(FrameError error) {
    switch (error) {
        case FrameError::None: return "none";
        case FrameError::BadCharacter: return "bad character";
        case FrameError::OddLength: return "odd length";
        case FrameError::TooShort: return "too short";
        case FrameError::TooLong: return "too long";
        case FrameError::LengthChecksum: return "wrong LCHKSUM";
        case FrameError::Checksum: return "wrong CHKSUM";
        case FrameError::LengthMismatch: return "LENID disagrees with INFO";
    }
    return "unknown";
}

size_t ExpectedFrameBytes(const uint8_t* data, size_t count) {
    const auto* start = static_cast<const uint8_t*>(std::memchr(data, kFrameStart, count));
    if (start == nullptr) return 0;
    const size_t at = static_cast<size_t>(start - data);
    uint16_t lenid = 0;
    if (count < at + 1 + kHeader || !ReadLenid(reinterpret_cast<const char*>(start + 1), lenid)) return 0;
    return at + 1 + kHeader + lenid + kChecksum + 1;  // '~' ... CR
}

FrameError DecodeFrame(const char* body, size_t length, DecodedFrame& out) {
    for (size_t i = 0; i < length; ++i) {
        if (HexValue(body[i]) < 0) return FrameError::BadCharacter;
    }
    if (length % 2 != 0) return FrameError::OddLength;
    if (length < kHeader + kChecksum) return FrameError::TooShort;
    if (length > FrameReceiver::kMaxBody) return FrameError::TooLong;
    unsigned sum = 0;
    for (size_t i = 0; i < length - kChecksum; ++i) sum += static_cast<unsigned char>(body[i]);
    uint8_t chkHigh = 0, chkLow = 0;
    ByteAt(body + length - 4, chkHigh);
    ByteAt(body + length - 2, chkLow);
    if (((~sum + 1) & 0xFFFF) != static_cast<unsigned>(chkHigh << 8 | chkLow)) {
        return FrameError::Checksum;
    }
    uint16_t lenid = 0;
    if (!ReadLenid(body, lenid)) return FrameError::LengthChecksum;
    const size_t infoChars = length - kHeader - kChecksum;
    if (lenid != infoChars) return FrameError::LengthMismatch;
    ByteAt(body + 0, out.ver);
    ByteAt(body + 2, out.adr);
    ByteAt(body + 4, out.cid1);
    ByteAt(body + 6, out.cid2);
    out.lenid = lenid;
    out.info.resize(infoChars / 2);
    for (size_t i = 0; i < out.info.size(); ++i) ByteAt(body + kHeader + 2 * i, out.info[i]);
    return FrameError::None;
}

void ToReplyBytes(const DecodedFrame& frame, std::vector<uint8_t>& out) {
    out.resize(6 + frame.info.size());
    out[0] = frame.ver;
    out[1] = frame.adr;
    out[2] = frame.cid1;
    out[3] = frame.cid2;
    out[4] = static_cast<uint8_t>(frame.lenid & 0xFF);
    out[5] = static_cast<uint8_t>(frame.lenid >> 8);
    std::copy(frame.info.begin(), frame.info.end(), out.begin() + 6);
}

}  // namespace host
