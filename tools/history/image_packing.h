#pragma once
// How a history row holds its image: deflated (zlib), with the image's length
// beside it. Images are mostly zero-filled user arrays and unchanged bytes,
// so a row shrinks to a fraction and a day of rows costs the card a fraction
// of the pages. Rows of earlier monitors, and images that deflate to no
// gain, are stored whole, their length NULL.
#include <cstddef>
#include <cstdint>
#include <vector>

namespace history {

// Longer than any record image; a stored length beyond it is refused.
constexpr size_t kMaxImageBytes = 64 * 1024;

// The deflated image, or empty when storing it whole is no larger.
std::vector<uint8_t> PackImage(const std::vector<uint8_t>& image);

// The image of a stored row: `blob` itself when `length` is negative (the
// column was NULL), else the blob inflated to exactly `length` bytes. False
// for a blob that does not inflate to that length.
bool UnpackImage(const uint8_t* blob, size_t bytes, int64_t length, std::vector<uint8_t>& out);

}  // namespace history
