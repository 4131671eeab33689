// The frame decoder on arbitrary frame bodies, and the encoder against it.
//   - A body that decodes must encode back, from the decoded fields, to exactly
//     '~' body CR; the reply layout built from it must carry the same fields.
//   - Any fields and INFO (the input's first four bytes and the rest, at most
//     2047 INFO bytes) must encode to a frame that decodes to the same fields.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "FuzzCheck.h"
#include "PMBusProtocol.h"
#include "pmbus_frame.h"

namespace {
constexpr size_t kMaxInfo = 4095 / 2;

void DecodeThenEncode(const uint8_t* data, size_t size) {
    const char* body = reinterpret_cast<const char*>(data);
    host::DecodedFrame frame;
    if (host::DecodeFrame(body, size, frame) != host::FrameError::None) return;
    FUZZ_CHECK(frame.lenid == 2 * frame.info.size(), "LENID disagrees with the INFO decoded");
    std::string again;
    host::EncodeFrame(frame.ver, frame.adr, frame.cid1, frame.cid2, frame.info.data(),
                      frame.info.size(), again);
    const std::string whole = host::kFrameStart + std::string(body, size) + host::kFrameEnd;
    FUZZ_CHECK(again == whole, "a decoded frame does not encode back to its body");
    std::vector<uint8_t> reply;
    host::ToReplyBytes(frame, reply);
    FUZZ_CHECK(reply.size() == PMBusProtocol::kReplyHeader + frame.info.size(), "reply length");
    FUZZ_CHECK(reply[2] == frame.cid1 && reply[3] == frame.cid2, "reply CID1 and RTN");
    FUZZ_CHECK((reply[4] | reply[5] << 8) == frame.lenid, "reply LENID");
}

void EncodeThenDecode(const uint8_t* data, size_t size) {
    if (size < 4) return;
    const size_t infoLength = size - 4 < kMaxInfo ? size - 4 : kMaxInfo;
    std::string frame;
    host::EncodeFrame(data[0], data[1], data[2], data[3], data + 4, infoLength, frame);
    FUZZ_CHECK(frame.front() == host::kFrameStart && frame.back() == host::kFrameEnd, "ends");
    host::DecodedFrame decoded;
    const host::FrameError error = host::DecodeFrame(frame.data() + 1, frame.size() - 2, decoded);
    FUZZ_CHECK(error == host::FrameError::None, host::FrameErrorText(error));
    FUZZ_CHECK(decoded.ver == data[0] && decoded.adr == data[1] && decoded.cid1 == data[2] &&
                   decoded.cid2 == data[3],
               "decoded header differs from the encoded one");
    FUZZ_CHECK(decoded.info == std::vector<uint8_t>(data + 4, data + 4 + infoLength),
               "decoded INFO differs from the encoded one");
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    DecodeThenEncode(data, size);
    EncodeThenDecode(data, size);
    return 0;
}
