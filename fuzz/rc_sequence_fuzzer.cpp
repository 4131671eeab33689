// The rectifier child across a sequence of replies, cycle ends, value queries and
// cached images (the input layout is in SequenceKit.h).
#include <cstddef>
#include <cstdint>

#include "SequenceKit.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzzkit::RunSequence<TRM27KRC>(data, size);
    return 0;
}
