#include "poll_steps.h"

namespace power {

namespace {
constexpr uint8_t kAskStatus = 0x10;
constexpr uint8_t kAskAlarms = 0x01;

bool Asks(const PollState& s, uint8_t flag, uint8_t bits) { return !s.ready || (flag & bits) != 0; }
int AfterRectifiers(const PollState& s) { return s.hasDc ? 7 : kEndOfCycle; }
int AfterDc(const PollState& s) { return s.hasAc ? 3 : 9; }
}  // namespace

int NextStep(int from, const PollState& s) {
    switch (from) {
        case kModelStep: return s.hasAc ? 0 : 4;
        case 0:
            if (Asks(s, s.acFlag, kAskStatus)) return 1;
            return (s.acFlag & kAskAlarms) != 0 ? 2 : 4;
        case 1: return Asks(s, s.acFlag, kAskAlarms) ? 2 : 4;
        case 2: return 4;
        case 4:
            if (Asks(s, s.rcFlag, kAskStatus)) return 5;
            return (s.rcFlag & kAskAlarms) != 0 ? 6 : AfterRectifiers(s);
        case 5: return Asks(s, s.rcFlag, kAskAlarms) ? 6 : AfterRectifiers(s);
        case 6: return AfterRectifiers(s);
        case 7: return Asks(s, s.dcFlag, kAskStatus | kAskAlarms) ? 8 : AfterDc(s);
        case 8: return AfterDc(s);
        case 3: return 9;
        default: return kEndOfCycle;  // 9: the DC parameters close the cycle
    }
}

}  // namespace power
