#pragma once
// How a fuzz input that stands for several replies is laid out, and exact-size
// heap copies of its parts.
//
// A sequence input is a run of records: TAG CTL LEN(16 bits, least significant
// byte first) BODY. TAG says what the record is (a parser, a reply's CID1),
// CTL carries the target's flags, BODY is LEN bytes. A header cut short ends
// the input; a LEN beyond the bytes left takes what is left, so every input,
// however mutated, is some sequence.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

namespace fuzzkit {

using Bytes = std::vector<uint8_t>;

struct Record {
    uint8_t tag = 0;
    uint8_t ctl = 0;
    const uint8_t* body = nullptr;
    size_t size = 0;
};

class RecordReader {
public:
    static constexpr size_t kHeader = 4;

    RecordReader(const uint8_t* data, size_t size) : data_(data), size_(size) {}

    bool Next(Record& out) {
        if (size_ - pos_ < kHeader) return false;
        const uint8_t* head = data_ + pos_;
        const size_t announced = head[2] | (static_cast<size_t>(head[3]) << 8);
        pos_ += kHeader;
        out.tag = head[0];
        out.ctl = head[1];
        out.body = data_ + pos_;
        out.size = announced < size_ - pos_ ? announced : size_ - pos_;
        pos_ += out.size;
        return true;
    }

private:
    const uint8_t* data_;
    size_t size_;
    size_t pos_ = 0;
};

// The writer side, for the seed corpus.
inline void AppendRecord(Bytes& out, uint8_t tag, uint8_t ctl, const Bytes& body) {
    out.push_back(tag);
    out.push_back(ctl);
    out.push_back(static_cast<uint8_t>(body.size() & 0xFF));
    out.push_back(static_cast<uint8_t>(body.size() >> 8));
    out.insert(out.end(), body.begin(), body.end());
}

// A heap block of exactly `size` bytes (a zero-size block for none), so
// AddressSanitizer reports any read past the bytes a parser was given.
inline std::unique_ptr<uint8_t[]> HeapCopy(const uint8_t* data, size_t size) {
    std::unique_ptr<uint8_t[]> copy(new uint8_t[size]);
    if (size > 0) std::memcpy(copy.get(), data, size);
    return copy;
}

}  // namespace fuzzkit
