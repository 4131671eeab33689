#include "image_packing.h"

#include <zlib.h>

namespace history {

std::vector<uint8_t> PackImage(const std::vector<uint8_t>& image) {
    if (image.empty() || image.size() > kMaxImageBytes) return {};
    uLongf bytes = compressBound(static_cast<uLong>(image.size()));
    std::vector<uint8_t> packed(bytes);
    if (compress2(packed.data(), &bytes, image.data(), static_cast<uLong>(image.size()), Z_BEST_COMPRESSION) !=
            Z_OK ||
        bytes >= image.size()) {
        return {};
    }
    packed.resize(bytes);
    return packed;
}

bool UnpackImage(const uint8_t* blob, size_t bytes, int64_t length, std::vector<uint8_t>& out) {
    out.clear();
    if (length < 0) {
        if (bytes > 0) out.assign(blob, blob + bytes);
        return true;
    }
    if (static_cast<uint64_t>(length) > kMaxImageBytes || blob == nullptr) return false;
    std::vector<uint8_t> image(static_cast<size_t>(length));
    uLongf made = static_cast<uLongf>(image.size());
    if (uncompress(image.data(), &made, blob, static_cast<uLong>(bytes)) != Z_OK || made != image.size()) {
        return false;
    }
    out = std::move(image);
    return true;
}

}  // namespace history
