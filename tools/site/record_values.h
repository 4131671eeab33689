#pragma once
// Values out of a data image, read through the field tables: the layout of
// each record type, one 4-byte value with its "not provided" rule applied, and
// the whole image as JSON with units. Every read is bounded by the image's
// length: an image whose length does not fit its layout yields nothing.
#include <cstddef>
#include <cstdint>
#include <optional>

#include <json/json.h>

#include "record_fields.h"

namespace site {

struct Table {
    const Field* rows;
    size_t size;
};

// A data image: a header record, then `channel` records, their count in the
// header byte at `countAt` (the DC image has no channel records).
struct Layout {
    int type;                 // 5175, 5176, 5177
    const char* device;       // "trm27k-ac", ...
    Table header;
    size_t headerSize;
    Table channel;
    size_t channelSize;
    size_t countAt;
    const char* channelsName;  // "channels", "modules"; nullptr for DC
};

const Layout* LayoutOf(int recordType);
// The channel records of an image, or nothing when its length does not fit.
std::optional<size_t> ChannelCount(const Layout& layout, const uint8_t* image, size_t length);
const Field* FindField(const Table& table, const char* name);
// Value `k` of a float field in the record at `base`; nothing when the power
// system did not provide it, or when the record's count leaves entry `k` out.
std::optional<float> ReadFloat(const Field& field, const uint8_t* base, size_t k = 0);
// The image as JSON: the fields by name, channel records under channelsName,
// values not provided left out (null inside an array, to keep the positions),
// and "units" naming the unit of each field that has one. False when the
// length does not fit.
// How many items of an array field the record announces: its count byte, at
// most the field's capacity, or the capacity when the field has no count.
// Whether each of them holds a value, ReadFloat tells.
size_t AnnouncedItems(const Field& field, const uint8_t* base);
bool RecordJson(const Layout& layout, const uint8_t* image, size_t length, Json::Value& out);

}  // namespace site
