// Whole polls of a configured TRM27K main device: decoded replies handed to
// HandleReply (and so to process_payload) between the host's poll timer calls
// of RefreshStatus. The input layout is at fuzzkit::RunPoll (PollRig.h).
#include <cstddef>
#include <cstdint>

#include "PollRig.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzzkit::PollRig rig;
    fuzzkit::RunPoll(rig, data, size);
    return 0;
}
