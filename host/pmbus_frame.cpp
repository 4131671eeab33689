#include "pmbus_frame.h"

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
