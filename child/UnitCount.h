#pragma once
// How many channels (AC screen) or modules (rectifier group) a child lays its
// records out for, judged on every analog block.
//
// The first block that finds no records fixes the count. A count restored
// from a cached image is only provisional: the site may have changed while
// the monitor was stopped, so the first live block replaces it. A count fixed
// by a live block is guarded against a single bad block, but not forever: a
// unit swapped at the site must not stall the poll for good, so the same new
// count in kRepeatsToAdopt consecutive blocks replaces it. The parser repeats
// its step after every refusal, so this takes that many exchanges.
#include <cstdint>

namespace child {

class UnitCount {
public:
    static constexpr int kRepeatsToAdopt = 3;

    enum class Verdict {
        Keep,      // the count in force: parse on
        First,     // no records yet: lay them out for this count
        Cached,    // replaces a count from a cached image: lay them out anew
        Repeated,  // the same new count kRepeatsToAdopt times: lay them out anew
        Refuse,    // another count, not (yet) adopted: refuse the block
    };

    // `announced` is the block's count, `known` the count in force and
    // `laidOut` whether records exist for it.
    Verdict Judge(uint8_t announced, uint8_t known, bool laidOut) {
        if (!laidOut) return Settle(Verdict::First);
        if (announced == known) return Settle(Verdict::Keep);
        if (provisional_) return Settle(Verdict::Cached);
        if (streak_ > 0 && announced == candidate_) {
            ++streak_;
        } else {
            candidate_ = announced;
            streak_ = 1;
        }
        if (streak_ >= kRepeatsToAdopt) return Settle(Verdict::Repeated);
        return Verdict::Refuse;
    }

    // The count now in force came from a cached image.
    void MarkProvisional() {
        provisional_ = true;
        streak_ = 0;
    }
    bool Provisional() const { return provisional_; }
    // Consecutive blocks so far with the candidate count.
    int Streak() const { return streak_; }

private:
    Verdict Settle(Verdict v) {
        provisional_ = false;
        streak_ = 0;
        return v;
    }

    bool provisional_ = false;
    uint8_t candidate_ = 0;
    int streak_ = 0;
};

// The AC and rectifier lines that log an adoption name the number of blocks
// in their text.
static_assert(UnitCount::kRepeatsToAdopt == 3, "the adoption log lines say \"in 3 blocks\"");

}  // namespace child
