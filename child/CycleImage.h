#pragma once
// The data image a child publishes at the end of each poll cycle: its header
// record followed by its per-channel records. The buffer is reused from cycle
// to cycle and replaced only when the number of channels changes.
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "ttime.h"

namespace child {

template <class Header, class Channel>
void BuildImage(std::unique_ptr<uint8_t[]>& buffer, uint32_t& length, const Header& header,
                const std::vector<Channel>& channels) {
    const uint32_t needed =
        static_cast<uint32_t>(sizeof(Header) + sizeof(Channel) * channels.size());
    if (!buffer || length != needed) {
        length = needed;
        buffer.reset(new uint8_t[needed]());
    }
    std::memcpy(buffer.get(), &header, sizeof(Header));
    if (!channels.empty()) {
        std::memcpy(buffer.get() + sizeof(Header), channels.data(),
                    sizeof(Channel) * channels.size());
    }
}

// Applies an image of the same shape: the header, then exactly as many channel
// records as the header's count announces. A refused image changes nothing.
template <class Header, class Channel, class CountOf>
bool ApplyImage(const uint8_t* data, int length, Header& header, std::vector<Channel>& channels,
                CountOf countOf) {
    if (data == nullptr || length < static_cast<int>(sizeof(Header))) return false;
    Header incoming;
    std::memcpy(&incoming, data, sizeof(Header));
    const size_t count = countOf(incoming);
    if (static_cast<size_t>(length) - sizeof(Header) != sizeof(Channel) * count) return false;
    header = incoming;
    channels.resize(count);
    if (count > 0) std::memcpy(channels.data(), data + sizeof(Header), sizeof(Channel) * count);
    return true;
}

// Copies the host's 7-byte stamp of the current local time into a record field.
inline void StampNow(uint8_t (&field)[7]) {
    const ttime_bytes stamp = get_ttime(host_local_now());
    std::memcpy(field, stamp.data(), stamp.size());
}

// Copy of the published image that the cycle's work item saves as history, so
// the next cycle can rewrite the buffer while a save is still pending.
inline std::vector<uint8_t> ImageCopy(const std::unique_ptr<uint8_t[]>& buffer, uint32_t length) {
    return std::vector<uint8_t>(buffer.get(), buffer.get() + length);
}

}  // namespace child
