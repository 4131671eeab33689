#include "ac_channel_key.h"

#include <climits>
#include <cstring>

namespace ac {

namespace {
constexpr char kPrefix[] = "channel_";
constexpr size_t kPrefixLength = sizeof(kPrefix) - 1;

bool IsDigit(char c) { return c >= '0' && c <= '9'; }
bool IsLineEnd(char c) { return c == '\n' || c == '\r'; }

// Tries a match that starts at `start`; digits are taken greedily, and since an
// underscore is never a digit, no shorter run of digits could match instead.
bool MatchAt(const std::string& key, size_t start, ChannelKey& out) {
    if (key.compare(start, kPrefixLength, kPrefix) != 0) return false;
    size_t pos = start + kPrefixLength;
    const size_t digits = pos;
    long long value = 0;
    bool tooLarge = false;
    while (pos < key.size() && IsDigit(key[pos])) {
        if (!tooLarge) {
            value = value * 10 + (key[pos] - '0');
            tooLarge = value > INT_MAX;
        }
        ++pos;
    }
    if (pos == digits || pos + 1 >= key.size() || key[pos] != '_') return false;
    if (IsLineEnd(key[pos + 1])) return false;
    out.found = true;
    out.tooLarge = tooLarge;
    out.channel = tooLarge ? INT_MAX : static_cast<int>(value);
    out.letter = key[pos + 1];
    return true;
}
}  // namespace

ChannelKey FindChannelKey(const std::string& key) {
    ChannelKey result;
    if (key.size() < kPrefixLength) return result;
    for (size_t start = 0; start + kPrefixLength <= key.size(); ++start) {
        const size_t at = key.find(kPrefix, start);
        if (at == std::string::npos) break;
        if (MatchAt(key, at, result)) return result;
        start = at;
    }
    return result;
}

}  // namespace ac
