#include "faults.h"

#include <algorithm>
#include <cstring>

namespace sim {

FaultChoice FaultInjector::Next() {
    FaultChoice c;
    c.drop = Uniform() < plan_.drop;
    c.corrupt = Uniform() < plan_.corrupt;
    c.truncate = Uniform() < plan_.truncate;
    c.delay = Uniform() < plan_.delay;
    c.wrongRtn = Uniform() < plan_.wrongRtn;
    c.wrongCount = Uniform() < plan_.wrongCount;
    c.cutAt = Uniform();
    const uint32_t bits = rng_();
    c.cutKeepsCr = (bits & 1) != 0;
    c.countUp = (bits & 2) != 0;
    c.corruptPick = rng_();
    c.duplicate = plan_.duplicate > 0 && Uniform() < plan_.duplicate;
    return c;
}

namespace {
constexpr char kHexDigits[] = "0123456789ABCDEF";
constexpr size_t kChecksumChars = 4;
}  // namespace

void CorruptChecksum(std::string& frame, uint32_t pick) {
    // '~', at least the 12 header characters, the checksum and the CR.
    if (frame.size() < 1 + 12 + kChecksumChars + 1) return;
    const size_t at = frame.size() - 1 - kChecksumChars + pick % kChecksumChars;
    const char* digit = std::strchr(kHexDigits, frame[at]);
    const int value = digit != nullptr ? static_cast<int>(digit - kHexDigits) : 0;
    const int shift = 1 + static_cast<int>((pick / kChecksumChars) % 15);  // never 0 or 16
    frame[at] = kHexDigits[(value + shift) % 16];
}

void TruncateFrame(std::string& frame, double cutAt, bool keepCr) {
    if (frame.size() < 3) return;
    const size_t body = frame.size() - 1;  // without the CR
    const size_t keep = 1 + std::min(body - 2, static_cast<size_t>(cutAt * (body - 1)));
    frame.resize(keep);
    if (keepCr) frame += '\r';
}

bool ShiftCount(std::vector<uint8_t>& info, int offset, bool up) {
    if (offset < 0 || static_cast<size_t>(offset) >= info.size()) return false;
    uint8_t& count = info[static_cast<size_t>(offset)];
    if (count == 0) up = true;
    if (count == 255) up = false;
    count = static_cast<uint8_t>(up ? count + 1 : count - 1);
    return true;
}

}  // namespace sim
