#pragma once
// Byte helpers for building reply payloads in tests.
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace testing_support {

using Bytes = std::vector<uint8_t>;

// "01 0A ff" or "010AFF" to bytes; spaces are ignored.
inline Bytes Hex(const std::string& text) {
    Bytes out;
    int high = -1;
    for (char c : text) {
        int v;
        if (c >= '0' && c <= '9') v = c - '0';
        else if (c >= 'a' && c <= 'f') v = c - 'a' + 10;
        else if (c >= 'A' && c <= 'F') v = c - 'A' + 10;
        else continue;
        if (high < 0) { high = v; } else { out.push_back(static_cast<uint8_t>(high * 16 + v)); high = -1; }
    }
    return out;
}

inline void Put(Bytes& out, uint8_t b) { out.push_back(b); }
inline void PutN(Bytes& out, uint8_t b, size_t n) { out.insert(out.end(), n, b); }
inline void PutF(Bytes& out, float f) {
    uint8_t raw[4];
    std::memcpy(raw, &f, 4);  // the test hosts are little-endian, as the wire is
    out.insert(out.end(), raw, raw + 4);
}
inline void PutBytes(Bytes& out, const Bytes& more) { out.insert(out.end(), more.begin(), more.end()); }

// Reads a float out of an image or record at a byte offset.
inline float FloatAt(const uint8_t* base, size_t offset) {
    float f;
    std::memcpy(&f, base + offset, 4);
    return f;
}
inline uint32_t BitsOf(float f) {
    uint32_t u;
    std::memcpy(&u, &f, 4);
    return u;
}

// A packed record field read by value: gtest's assertions take references,
// which must never bind to a (possibly misaligned) packed member.
template <class T>
T Val(T value) {
    return value;
}

// A decoded reply as the host hands it to process_payload.
inline Bytes Reply(uint8_t cid1, const Bytes& info, uint8_t ver = 0x21, uint8_t adr = 1) {
    Bytes out{ver, adr, cid1, 0x00};
    const size_t lenid = info.size() * 2;
    out.push_back(static_cast<uint8_t>(lenid & 0xFF));
    out.push_back(static_cast<uint8_t>(lenid >> 8));
    PutBytes(out, info);
    return out;
}

}  // namespace testing_support
