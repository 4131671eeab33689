// Raw line bytes into a configured TRM27K main device through
// PMBusProtocol::process: frames are collected, decoded, checked and handed on
// to process_payload, as the host's serial reader does. The input layout is at
// fuzzkit::RunLine (PollRig.h).
#include <cstddef>
#include <cstdint>

#include "PollRig.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzzkit::PollRig rig;
    fuzzkit::RunLine(rig, data, size);
    return 0;
}
