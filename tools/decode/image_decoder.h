#pragma once
// Decodes a data image of record type 5175 (AC), 5176 (DC) or 5177
// (rectifiers) into JSON with the field names of its records.
#include <cstddef>
#include <cstdint>
#include <string>

#include <json/json.h>

namespace decode {

// The record type an image of `length` bytes can only be, or 0 when the
// length fits none or more than one.
int InferType(size_t length);
// False with a reason when the length does not fit the record type.
bool DecodeImage(int type, const uint8_t* data, size_t length, Json::Value& out,
                 std::string& error);
// A decoded image as indented JSON text, each value as its shortest decimal.
std::string JsonText(const Json::Value& v);

}  // namespace decode
