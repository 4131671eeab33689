#include "record_values.h"

#include <algorithm>
#include <cstring>
#include <iterator>

#include "float_json.h"

namespace site {

namespace {
template <size_t N>
constexpr Table TableOf(const Field (&rows)[N]) {
    return {rows, N};
}

constexpr Layout kLayouts[] = {
    {5175, "trm27k-ac", TableOf(kAcScreen), sizeof(AcT), TableOf(kAcChannel), sizeof(AcC),
     offsetof(AcT, channel_count), "channels"},
    {5176, "trm27k-dc", TableOf(kDcRecord), sizeof(DcT), {nullptr, 0}, 0, 0, nullptr},
    {5177, "trm27k-rc", TableOf(kRcRecord), sizeof(RcT), TableOf(kRcModule), sizeof(RcC),
     offsetof(RcT, channel_count), "modules"},
};

constexpr uint8_t kFillTenth[4] = {0xCD, 0xCC, 0xCC, 0xBD};

bool IsAbsent(const Field& field, const uint8_t* at) {
    switch (field.absent) {
        case Absent::Marker:
            return at[0] != 0 && at[0] == at[1] && at[1] == at[2] && at[2] == at[3];
        case Absent::FillTenth: return std::memcmp(at, kFillTenth, 4) == 0;
        case Absent::FillZero: return at[0] == 0 && at[1] == 0 && at[2] == 0 && at[3] == 0;
        case Absent::Never: break;
    }
    return false;
}

Json::Value ValueJson(const Field& field, const uint8_t* base, size_t k) {
    const std::optional<float> v = ReadFloat(field, base, k);
    return v ? FloatJson(*v) : Json::Value();
}

Json::Value FieldsJson(const Table& table, const uint8_t* base, Json::Value& units) {
    Json::Value out(Json::objectValue);
    for (const Field* f = table.rows; f != table.rows + table.size; ++f) {
        const uint8_t* at = base + f->offset;
        switch (f->kind) {
            case Kind::U8: out[f->name] = at[0]; break;
            case Kind::U32: {
                uint32_t v;
                std::memcpy(&v, at, 4);
                out[f->name] = v;
                break;
            }
            case Kind::F32:
                if (ReadFloat(*f, base)) out[f->name] = ValueJson(*f, base, 0);
                break;
            case Kind::F32Array:
                for (size_t k = 0; k < f->count; ++k) out[f->name].append(ValueJson(*f, base, k));
                break;
            case Kind::Bytes:
                for (size_t k = 0; k < f->count; ++k) out[f->name].append(at[k]);
                break;
        }
        if (*f->unit != '\0') units[f->name] = f->unit;
    }
    return out;
}
}  // namespace

const Layout* LayoutOf(int recordType) {
    for (const Layout& layout : kLayouts) {
        if (layout.type == recordType) return &layout;
    }
    return nullptr;
}

std::optional<size_t> ChannelCount(const Layout& layout, const uint8_t* image, size_t length) {
    if (image == nullptr || length < layout.headerSize) return std::nullopt;
    const size_t count = layout.channelSize == 0 ? 0 : image[layout.countAt];
    if (length != layout.headerSize + layout.channelSize * count) return std::nullopt;
    return count;
}

const Field* FindField(const Table& table, const char* name) {
    for (const Field* f = table.rows; f != table.rows + table.size; ++f) {
        if (std::strcmp(f->name, name) == 0) return f;
    }
    return nullptr;
}

std::optional<float> ReadFloat(const Field& field, const uint8_t* base, size_t k) {
    if ((field.kind != Kind::F32 && field.kind != Kind::F32Array) || k >= field.count) {
        return std::nullopt;
    }
    if (field.countAt != kNotCounted && (k >= base[field.countAt] || base[field.countAt] > field.count)) {
        return std::nullopt;
    }
    const uint8_t* at = base + field.offset + 4 * k;
    if (IsAbsent(field, at)) return std::nullopt;
    float v;
    std::memcpy(&v, at, 4);
    return v;
}

size_t AnnouncedItems(const Field& field, const uint8_t* base) {
    if (field.countAt == kNotCounted) return field.count;
    return std::min<size_t>(base[field.countAt], field.count);
}

bool RecordJson(const Layout& layout, const uint8_t* image, size_t length, Json::Value& out) {
    const std::optional<size_t> count = ChannelCount(layout, image, length);
    if (!count) return false;
    Json::Value units(Json::objectValue);
    out = FieldsJson(layout.header, image, units);
    if (layout.channelsName != nullptr) {
        Json::Value& channels = out[layout.channelsName] = Json::Value(Json::arrayValue);
        for (size_t k = 0; k < *count; ++k) {
            channels.append(FieldsJson(layout.channel,
                                       image + layout.headerSize + layout.channelSize * k, units));
        }
    }
    out["units"] = units;
    return true;
}

}  // namespace site
