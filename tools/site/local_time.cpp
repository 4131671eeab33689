#include "local_time.h"

#include <chrono>

namespace site {

namespace {
bool Digits(const char* text, size_t count) {
    for (size_t k = 0; k < count; ++k) {
        if (text[k] < '0' || text[k] > '9') return false;
    }
    return true;
}

// "+HH:MM" or "-HH:MM" to seconds east of UTC.
bool ParseOffset(const char* text, long& seconds) {
    if ((text[0] != '+' && text[0] != '-') || !Digits(text + 1, 2) || text[3] != ':' ||
        !Digits(text + 4, 2) || text[6] != '\0') {
        return false;
    }
    const long hours = (text[1] - '0') * 10 + (text[2] - '0');
    const long minutes = (text[4] - '0') * 10 + (text[5] - '0');
    if (hours > 23 || minutes > 59) return false;
    seconds = (text[0] == '-' ? -1 : 1) * (hours * 3600 + minutes * 60);
    return true;
}
}  // namespace

std::string LocalIsoTimeAt(std::time_t when) {
    std::tm local{};
    localtime_r(&when, &local);
    char text[40];
    const size_t n = std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S%z", &local);
    // strftime writes "+0100"; ISO 8601's extended form wants "+01:00".
    if (n < 5) return text;
    std::string out(text, n - 2);
    return out + ":" + std::string(text + n - 2, 2);
}

std::string LocalIsoTime() { return LocalIsoTimeAt(std::time(nullptr)); }

int64_t NowEpochMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

std::string UtcIsoTimeAt(std::time_t when) {
    std::tm utc{};
    gmtime_r(&when, &utc);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &utc);
    return text;
}

bool ParseIsoTime(const std::string& text, std::time_t& out) {
    std::tm tm{};
    const char* rest = strptime(text.c_str(), "%Y-%m-%dT%H:%M:%S", &tm);
    if (rest == nullptr) return false;
    long offset = 0;
    if (*rest == '\0') {
        tm.tm_isdst = -1;  // whichever applies at that moment
        out = std::mktime(&tm);
        return out != static_cast<std::time_t>(-1);
    }
    if (!(rest[0] == 'Z' && rest[1] == '\0') && !ParseOffset(rest, offset)) return false;
    out = timegm(&tm) - offset;
    return true;
}

std::string StoredTime(const std::string& text) {
    std::time_t when = 0;
    return ParseIsoTime(text, when) ? UtcIsoTimeAt(when) : text;
}

std::string ShownTime(const std::string& text) {
    std::time_t when = 0;
    // A text without a zone is already the local time it shows.
    if (text.size() <= 19 || !ParseIsoTime(text, when)) return text;
    return LocalIsoTimeAt(when);
}

}  // namespace site
