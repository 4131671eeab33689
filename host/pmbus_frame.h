#pragma once
#include "host_api.h"
// The ASCII-hex frame of the serial line:
//   '~' VER ADR CID1 CID2 LENGTH INFO CHKSUM CR
// each byte two uppercase hex characters; LENGTH is LCHKSUM (4 bits) over
// LENID (12 bits, the number of INFO hex characters); CHKSUM is the two's
// complement of the sum of the characters from VER through INFO, 16 bits.
#include <cstddef>
#include <cstdint>
#include <string>

namespace host {

constexpr char kFrameStart = '~';
constexpr char kFrameEnd = '\r';

// LENGTH field for a LENID (number of INFO hex characters, 0 to 4095).
HOST_API uint16_t FrameLength(uint16_t lenid);
// Appends the whole frame of one message to `out` (reused by the caller).
// `cid2` is CID2 in a command, RTN in a reply.
HOST_API void EncodeFrame(uint8_t ver, uint8_t adr, uint8_t cid1, uint8_t cid2, const uint8_t* info,
                 size_t infoLength, std::string& out);

}  // namespace host
