#include "hex_text.h"

namespace site {

std::string HexText(const uint8_t* data, size_t length) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(2 * length);
    for (size_t i = 0; i < length; ++i) {
        out += kHex[data[i] >> 4];
        out += kHex[data[i] & 0xF];
    }
    return out;
}

}  // namespace site
