#include "target.h"

namespace http {

namespace {
int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

bool Decode(std::string_view text, bool plusIsBlank, std::string& out) {
    out.clear();
    out.reserve(text.size());
    for (size_t k = 0; k < text.size(); ++k) {
        const char c = text[k];
        if (c == '+' && plusIsBlank) {
            out += ' ';
        } else if (c != '%') {
            out += c;
        } else {
            if (text.size() - k < 3) return false;
            const int high = HexDigit(text[k + 1]);
            const int low = HexDigit(text[k + 2]);
            if (high < 0 || low < 0 || (high == 0 && low == 0)) return false;
            out += static_cast<char>(high * 16 + low);
            k += 2;
        }
    }
    return true;
}

bool AddParam(std::string_view pair, Target& out) {
    if (pair.empty()) return true;  // "a=1&&b=2"
    const size_t equals = pair.find('=');
    std::string key;
    std::string value;
    if (!Decode(pair.substr(0, equals), true, key)) return false;
    if (equals != std::string_view::npos && !Decode(pair.substr(equals + 1), true, value)) return false;
    out.params.emplace(std::move(key), std::move(value));
    return true;
}
}  // namespace

bool ParseTarget(std::string_view text, Target& out) {
    out.params.clear();
    if (text.empty() || text.front() != '/') return false;
    const size_t question = text.find('?');
    if (!Decode(text.substr(0, question), false, out.path)) return false;
    if (question == std::string_view::npos) return true;
    std::string_view query = text.substr(question + 1);
    while (!query.empty()) {
        const size_t amp = query.find('&');
        if (!AddParam(query.substr(0, amp), out)) return false;
        if (amp == std::string_view::npos) break;
        query.remove_prefix(amp + 1);
    }
    return true;
}

}  // namespace http
