#pragma once
// Bytes as uppercase hex text: record images, command INFO and broken frames
// in the event file.
#include <cstddef>
#include <cstdint>
#include <string>

namespace site {

std::string HexText(const uint8_t* data, size_t length);

}  // namespace site
