#include "image_decoder.h"

#include <cstring>

#include "float_json.h"
#include "record_fields.h"

namespace decode {

using namespace site;  // the field tables

namespace {
template <size_t N>
Json::Value Fields(const Field (&table)[N], const uint8_t* base) {
    Json::Value out(Json::objectValue);
    for (const Field& f : table) {
        const uint8_t* at = base + f.offset;
        switch (f.kind) {
            case Kind::U8: out[f.name] = at[0]; break;
            case Kind::U32: {
                uint32_t v;
                std::memcpy(&v, at, 4);
                out[f.name] = v;
                break;
            }
            case Kind::F32: {
                float v;
                std::memcpy(&v, at, 4);
                out[f.name] = FloatJson(v);
                break;
            }
            case Kind::F32Array:
                for (size_t k = 0; k < f.count; ++k) {
                    float v;
                    std::memcpy(&v, at + 4 * k, 4);
                    out[f.name].append(FloatJson(v));
                }
                break;
            case Kind::Bytes:
                for (size_t k = 0; k < f.count; ++k) out[f.name].append(at[k]);
                break;
        }
    }
    return out;
}

// An image of a header record and `count` channel records, count at `countAt`.
template <size_t H, size_t C>
bool Decode(const Field (&header)[H], size_t headerSize, const Field (&channel)[C],
            size_t channelSize, size_t countAt, const char* channelsName, const uint8_t* data,
            size_t length, Json::Value& out, std::string& error) {
    if (length < headerSize) {
        error = "image shorter than its header";
        return false;
    }
    const size_t count = data[countAt];
    if (length != headerSize + channelSize * count) {
        error = "image length " + std::to_string(length) + " does not fit " +
                std::to_string(count) + " channel records";
        return false;
    }
    out = Fields(header, data);
    out[channelsName] = Json::Value(Json::arrayValue);
    for (size_t k = 0; k < count; ++k) {
        out[channelsName].append(Fields(channel, data + headerSize + channelSize * k));
    }
    return true;
}

bool Fits(size_t length, size_t header, size_t channel) {
    return length >= header && (length - header) % channel == 0;
}
}  // namespace

int InferType(size_t length) {
    const bool ac = Fits(length, sizeof(AcT), sizeof(AcC));
    const bool dc = length == sizeof(DcT);
    const bool rc = Fits(length, sizeof(RcT), sizeof(RcC));
    if (ac + dc + rc != 1) return 0;
    return ac ? 5175 : dc ? 5176 : 5177;
}

bool DecodeImage(int type, const uint8_t* data, size_t length, Json::Value& out,
                 std::string& error) {
    switch (type) {
        case 5175:
            return Decode(kAcScreen, sizeof(AcT), kAcChannel, sizeof(AcC),
                          offsetof(AcT, channel_count), "channels", data, length, out, error);
        case 5176:
            if (length != sizeof(DcT)) {
                error = "a DC image is 450 bytes, not " + std::to_string(length);
                return false;
            }
            out = Fields(kDcRecord, data);
            return true;
        case 5177:
            return Decode(kRcRecord, sizeof(RcT), kRcModule, sizeof(RcC),
                          offsetof(RcT, channel_count), "modules", data, length, out, error);
        default:
            error = "unknown record type " + std::to_string(type);
            return false;
    }
}

std::string JsonText(const Json::Value& v) {
    Json::StreamWriterBuilder builder;
    builder["indentation"] = "  ";
    builder["emitUTF8"] = true;
    SetJsonDigits(builder);
    return Json::writeString(builder, v);
}

}  // namespace decode
