// One child parser on arbitrary bytes. Built once per parser: FUZZ_CHILD names
// the child class, FUZZ_PARSER the parser's place in its ChildTraits table.
//
// Input: SETUP BLOCK...
//   SETUP bits 0-2  channels or modules the child gets first from a well-formed
//                   analog reply (0: a fresh child; a DC screen gets a full record)
//   SETUP bit 3     the parser is told a negative size
// The parser must stay inside BLOCK (an exact-size heap copy), return -1 or at
// most the size it was told (the parameter parsers may announce more), and
// keep the unit count and the unit records in agreement; the value queries
// follow. Cycle ends after parsing are the sequence targets' part: they cost
// thousands of rule texts on a wide screen and would slow this target tenfold.
#include <cstddef>
#include <cstdint>

#include "ChildKit.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using Traits = fuzzkit::ChildTraits<FUZZ_CHILD>;
    if (size == 0) return 0;
    const uint8_t setup = data[0];
    fuzzkit::BoundChild<FUZZ_CHILD> bound;
    const uint8_t units = setup & 0x07;
    if (units != 0) Traits::Prime(*bound.child, units);
    const size_t blockSize = size - 1;
    const int told =
        (setup & 0x08) != 0 ? -1 - static_cast<int>(blockSize) : static_cast<int>(blockSize);
    fuzzkit::RunParser(*bound.child, Traits::kParsers[FUZZ_PARSER], data + 1, blockSize, told);
    fuzzkit::QueryKeys(*bound.child);
    return 0;
}
