// The AC value query's channel-key matcher against std::regex, ECMAScript
// grammar, searching for the same pattern. Any difference in whether a key
// matches, in the channel number (or its being too large for an int) or in
// the letter is a finding.
#include <climits>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <regex>
#include <string>

#include "ac_channel_key.h"

namespace {
// libstdc++ matches by recursion, one level per character taken: keys this
// long already go far beyond any key a host asks for.
constexpr size_t kMaxKey = 512;

// What the regular expression says about `key`, in the matcher's terms.
ac::ChannelKey Oracle(const std::string& key) {
    static const std::regex pattern("channel_(\\d+)_(.+?)", std::regex::ECMAScript);
    ac::ChannelKey out;
    std::smatch m;
    if (!std::regex_search(key, m, pattern)) return out;
    out.found = true;
    const std::string digits = m[1].str();
    const size_t first = digits.find_first_not_of('0');
    const std::string significant = first == std::string::npos ? "0" : digits.substr(first);
    out.tooLarge = significant.size() > 10 || std::stoll(significant) > INT_MAX;
    out.channel = out.tooLarge ? INT_MAX : static_cast<int>(std::stoll(significant));
    out.letter = m[2].str().empty() ? '\0' : m[2].str()[0];
    return out;
}

bool Same(const ac::ChannelKey& a, const ac::ChannelKey& b) {
    if (a.found != b.found) return false;
    if (!a.found) return true;
    return a.tooLarge == b.tooLarge && a.channel == b.channel && a.letter == b.letter;
}

void Report(const std::string& key, const ac::ChannelKey& got, const ac::ChannelKey& want) {
    std::fprintf(stderr,
                 "channel key matcher differs from std::regex on a %zu-byte key:\n"
                 "  matcher: found %d tooLarge %d channel %d letter 0x%02x\n"
                 "  regex:   found %d tooLarge %d channel %d letter 0x%02x\n",
                 key.size(), got.found, got.tooLarge, got.channel,
                 static_cast<unsigned char>(got.letter), want.found, want.tooLarge, want.channel,
                 static_cast<unsigned char>(want.letter));
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string key(reinterpret_cast<const char*>(data), size < kMaxKey ? size : kMaxKey);
    const ac::ChannelKey got = ac::FindChannelKey(key);
    const ac::ChannelKey want = Oracle(key);
    if (!Same(got, want)) {
        Report(key, got, want);
        std::abort();
    }
    return 0;
}
