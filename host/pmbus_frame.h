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

#include <vector>

namespace host {

enum class FrameError {
    None,
    BadCharacter,    // a character that is not an uppercase hex digit
    OddLength,       // the body is not a whole number of bytes
    TooShort,        // fewer characters than header and checksum need
    TooLong,         // more characters than the largest frame holds
    LengthChecksum,  // LCHKSUM does not match LENID
    Checksum,        // CHKSUM does not match the characters
    LengthMismatch,  // LENID disagrees with the INFO received
};
HOST_API const char* FrameErrorText(FrameError error);

// One decoded message; cid2 holds RTN in a reply.
struct DecodedFrame {
    uint8_t ver = 0;
    uint8_t adr = 0;
    uint8_t cid1 = 0;
    uint8_t cid2 = 0;
    uint16_t lenid = 0;
    std::vector<uint8_t> info;  // reused between frames
};

// How many bytes the frame that starts in the first `count` bytes of `data`
// takes, counted from data[0] through its CR, read from its LENGTH field;
// 0 while its header is incomplete or when LENGTH fails its own checksum.
HOST_API size_t ExpectedFrameBytes(const uint8_t* data, size_t count);

// Decodes the characters between '~' and CR (both excluded).
HOST_API FrameError DecodeFrame(const char* body, size_t length, DecodedFrame& out);

// The reply layout process_payload reads: VER ADR CID1 RTN LENID(le16) INFO.
HOST_API void ToReplyBytes(const DecodedFrame& frame, std::vector<uint8_t>& out);

// Splits a byte stream into frame bodies: bytes before '~' are skipped, a
// frame ends at CR, and a '~' inside a frame starts it again.
class HOST_API FrameReceiver {
public:
    static constexpr size_t kMaxBody = 12 + 4095 + 4 + 1;

    // Calls onFrame(body, length) for every complete frame in `data`;
    // onOverflow() when a frame grows beyond the largest possible one.
    // A callback that calls Restart() ends the feed: the bytes after the
    // frame it handled are dropped with everything received so far.
    template <class OnFrame, class OnOverflow>
    void Feed(const uint8_t* data, size_t count, OnFrame onFrame, OnOverflow onOverflow) {
        restarted_ = false;
        for (size_t i = 0; i < count && !restarted_; ++i) {
            const char c = static_cast<char>(data[i]);
            if (c == kFrameStart) {
                body_.clear();
                inFrame_ = true;
            } else if (!inFrame_) {
                continue;
            } else if (c == kFrameEnd) {
                inFrame_ = false;
                onFrame(body_.data(), body_.size());
            } else if (body_.size() >= kMaxBody) {
                inFrame_ = false;
                onOverflow();
            } else {
                body_.push_back(c);
            }
        }
    }
    bool InFrame() const { return inFrame_; }
    void Clear() {
        body_.clear();
        inFrame_ = false;
    }
    // Forgets every byte received so far, including the rest of a Feed in
    // progress: what came before a new command cannot be its reply.
    void Restart() {
        Clear();
        restarted_ = true;
    }

private:
    std::string body_;
    bool inFrame_ = false;
    bool restarted_ = false;
};

}  // namespace host
