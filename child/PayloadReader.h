#pragma once
// A bounded reader over one block of reply data. Every read checks first that
// its bytes lie inside the block and refuses otherwise, so no parser can read
// past the count it was given. After a refusal position() is the length the
// refused read would have reached (what the overflow log lines report), and
// every later read refuses too.
#include <cstdint>
#include <cstring>

namespace child {

class PayloadReader {
public:
    PayloadReader(const uint8_t* data, int size) : data_(data), size_(size < 0 ? 0 : size) {}

    int position() const { return pos_; }
    int size() const { return size_; }
    bool failed() const { return failed_; }
    // Bytes still available from the current position.
    int remaining() const { return failed_ ? 0 : size_ - pos_; }
    const uint8_t* here() const { return data_ + pos_; }

    bool u8(uint8_t& out) {
        if (!take(1)) return false;
        out = data_[pos_ - 1];
        return true;
    }
    // Copies n bytes to `dst`, which may be a packed record field.
    bool copy(void* dst, int n) {
        if (!take(n)) return false;
        if (n > 0) std::memcpy(dst, data_ + pos_ - n, static_cast<size_t>(n));
        return true;
    }
    bool skip(int n) { return take(n); }

private:
    bool take(int n) {
        if (failed_ || n < 0 || n > size_ - pos_) {
            if (!failed_) pos_ += n < 0 ? 0 : n;
            failed_ = true;
            return false;
        }
        pos_ += n;
        return true;
    }

    const uint8_t* data_;
    int size_;
    int pos_ = 0;
    bool failed_ = false;
};

}  // namespace child
