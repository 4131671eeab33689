#pragma once
// A child kept across several replies: the sequence targets of the three children.
//
// Input: records (FuzzInput.h). TAG modulo (parsers + 3) picks the step:
//   0 .. parsers-1  that parser of the child, given BODY
//   parsers         the cycle end (RoundDone)
//   parsers + 1     a value query with BODY as the key
//   parsers + 2     LoadFromCache with BODY as the image
// CTL bit 0 makes the data 61 seconds old first; CTL bit 1 tells the parser a
// negative size. After every step the unit count and records must agree.
// Only the first kMaxRounds cycle ends of an input run: each builds every rule
// text of the cycle, and more of them find nothing the first ones do not.
#include <string>

#include "ChildKit.h"

namespace fuzzkit {

template <class Child>
void QueryKey(const Child& child, const Record& r) {
    try {
        (void)child.Get_Value(0, std::string(reinterpret_cast<const char*>(r.body), r.size));
    } catch (const std::out_of_range&) {
    }
}

template <class Child>
void OfferImage(Child& child, const Record& r) {
    auto copy = HeapCopy(r.body, r.size);
    const bool applied = child.LoadFromCache(copy.get(), static_cast<int>(r.size));
    if (applied) FUZZ_CHECK(child.DataReady(), "an applied image left the data not ready");
}

constexpr int kMaxRounds = 4;

template <class Child>
void RunSequence(const uint8_t* data, size_t size) {
    using Traits = ChildTraits<Child>;
    constexpr size_t kParsers = Traits::kParsers.size();
    BoundChild<Child> bound;
    Child& child = *bound.child;
    RecordReader reader(data, size);
    Record r;
    int rounds = 0;
    while (reader.Next(r)) {
        if ((r.ctl & 0x01) != 0) AgeData(child);
        const size_t step = r.tag % (kParsers + 3);
        if (step < kParsers) {
            const int told = (r.ctl & 0x02) != 0 ? -1 : static_cast<int>(r.size);
            RunParser(child, Traits::kParsers[step], r.body, r.size, told);
        } else if (step == kParsers) {
            if (rounds++ < kMaxRounds) EndRound(bound);
        } else if (step == kParsers + 1) {
            QueryKey(child, r);
        } else {
            OfferImage(child, r);
        }
        FUZZ_CHECK(Traits::CountsAgree(child), "unit count and unit records disagree");
    }
    QueryKeys(child);
}

}  // namespace fuzzkit
