#pragma once
// The machinery behind the scenario keys: one row per JSON key of an object,
// walked by one loop (ApplyObject), and the readers of the JSON value kinds a
// scenario uses. Every reader checks the JSON type and range before it takes
// a value, so no jsoncpp accessor can throw.
#include <json/json.h>

#include <algorithm>
#include <array>
#include <cfloat>
#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include "scenario.h"

namespace sim {
namespace fields {

using Path = std::string;

inline bool Fail(std::string& error, const Path& path, const std::string& what) {
    error = (path.empty() ? std::string("scenario") : path) + ": " + what;
    return false;
}

inline Path Join(const Path& path, const std::string& key) {
    return path.empty() ? key : path + "." + key;
}
inline Path Index(const Path& path, const std::string& index) {
    return path + "[" + index + "]";
}

inline bool ReadByte(const Json::Value& j, uint8_t& out, const Path& path, std::string& error) {
    if (!j.isUInt() || j.asUInt() > 255)
        return Fail(error, path, "expected an integer from 0 to 255");
    out = static_cast<uint8_t>(j.asUInt());
    return true;
}

inline int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

// "20202020": the four bytes in line order.
inline bool ReadRawValue(const std::string& text, Wire4& out) {
    if (text.size() != 8) return false;
    for (size_t k = 0; k < 4; ++k) {
        const int high = HexDigit(text[2 * k]);
        const int low = HexDigit(text[2 * k + 1]);
        if (high < 0 || low < 0) return false;
        out.bytes[k] = static_cast<uint8_t>(high * 16 + low);
    }
    return true;
}

inline bool ReadValue(const Json::Value& j, Wire4& out, const Path& path, std::string& error) {
    if (j.isNumeric() && std::fabs(j.asDouble()) <= FLT_MAX) {
        out = Wire4::Of(static_cast<float>(j.asDouble()));
        return true;
    }
    if (j.isString() && ReadRawValue(j.asString(), out)) return true;
    return Fail(error, path, "expected a number within float range or 8 hex digits");
}

// A decimal index below `size`.
inline bool ReadIndex(const std::string& name, size_t size, size_t& index, const Path& path,
                      std::string& error) {
    const bool digits = !name.empty() && name.size() <= 3 &&
                        name.find_first_not_of("0123456789") == std::string::npos;
    index = digits ? std::stoul(name) : size;
    if (index < size) return true;
    return Fail(error, Index(path, name),
                "index out of range (the group has " + std::to_string(size) + " items)");
}

// An array replaces the group (its length is the new count; items beyond the
// old ones start as make(k)); an object of index keys changes items in place.
template <class T, class Apply, class Make>
bool ApplyGroup(const Json::Value& j, std::vector<T>& group, Apply apply, Make make,
                const Path& path, std::string& error) {
    if (j.isArray()) {
        if (j.size() > 255) return Fail(error, path, "a group holds at most 255 items");
        std::vector<T> fresh;
        for (Json::ArrayIndex k = 0; k < j.size(); ++k) {
            fresh.push_back(k < group.size() ? group[k] : make(k));
            if (!apply(j[k], fresh.back(), Index(path, std::to_string(k)), error)) return false;
        }
        group = std::move(fresh);
        return true;
    }
    if (!j.isObject()) return Fail(error, path, "expected an array or an object of index keys");
    for (const std::string& name : j.getMemberNames()) {
        size_t k = 0;
        if (!ReadIndex(name, group.size(), k, path, error)) return false;
        if (!apply(j[name], group[k], Index(path, name), error)) return false;
    }
    return true;
}

// A group of fixed size: an array of exactly N items, or an object of index keys.
template <class T, size_t N, class Apply>
bool ApplyFixed(const Json::Value& j, std::array<T, N>& items, Apply apply, const Path& path,
                std::string& error) {
    if (j.isArray() && j.size() != N) {
        return Fail(error, path, "expected exactly " + std::to_string(N) + " items");
    }
    std::vector<T> group(items.begin(), items.end());
    const auto same = [](size_t) { return T{}; };
    if (!ApplyGroup(j, group, apply, same, path, error)) return false;
    std::copy(group.begin(), group.end(), items.begin());
    return true;
}

template <class T>
using Custom = bool (*)(const Json::Value&, T&, const Path&, std::string&);

// One key of an object: exactly one of the member pointers is set.
template <class T>
struct FieldRow {
    const char* key;
    Wire4 T::*value;
    uint8_t T::*byte;
    std::vector<Wire4> T::*values;
    std::vector<uint8_t> T::*bytes;
    Custom<T> custom;
};
template <class T>
constexpr FieldRow<T> ValueKey(const char* key, Wire4 T::*m) {
    return {key, m, nullptr, nullptr, nullptr, nullptr};
}
template <class T>
constexpr FieldRow<T> ByteKey(const char* key, uint8_t T::*m) {
    return {key, nullptr, m, nullptr, nullptr, nullptr};
}
template <class T>
constexpr FieldRow<T> ValuesKey(const char* key, std::vector<Wire4> T::*m) {
    return {key, nullptr, nullptr, m, nullptr, nullptr};
}
template <class T>
constexpr FieldRow<T> BytesKey(const char* key, std::vector<uint8_t> T::*m) {
    return {key, nullptr, nullptr, nullptr, m, nullptr};
}
template <class T>
constexpr FieldRow<T> CustomKey(const char* key, Custom<T> f) {
    return {key, nullptr, nullptr, nullptr, nullptr, f};
}

inline bool ReadValues(const Json::Value& j, std::vector<Wire4>& group, const Path& path,
                       std::string& error) {
    return ApplyGroup(
        j, group, ReadValue, [](size_t) { return Wire4{}; }, path, error);
}
inline bool ReadBytes(const Json::Value& j, std::vector<uint8_t>& group, const Path& path,
                      std::string& error) {
    return ApplyGroup(
        j, group, ReadByte, [](size_t) { return uint8_t{0}; }, path, error);
}

template <class T>
bool ApplyRow(const FieldRow<T>& row, const Json::Value& j, T& target, const Path& path,
              std::string& error) {
    if (row.value != nullptr) return ReadValue(j, target.*row.value, path, error);
    if (row.byte != nullptr) return ReadByte(j, target.*row.byte, path, error);
    if (row.values != nullptr) return ReadValues(j, target.*row.values, path, error);
    if (row.bytes != nullptr) return ReadBytes(j, target.*row.bytes, path, error);
    return row.custom(j, target, path, error);
}

// Applies every key of the object `j` through its row of `table`.
template <class T, size_t N>
bool ApplyObject(const Json::Value& j, T& target, const std::array<FieldRow<T>, N>& table,
                 const Path& path, std::string& error) {
    if (!j.isObject()) return Fail(error, path, "expected an object");
    for (const std::string& name : j.getMemberNames()) {
        const FieldRow<T>* row = nullptr;
        for (const FieldRow<T>& candidate : table) {
            if (name == candidate.key) row = &candidate;
        }
        if (row == nullptr) return Fail(error, Join(path, name), "unknown key");
        if (!ApplyRow(*row, j[name], target, Join(path, name), error)) return false;
    }
    return true;
}

}  // namespace fields
}  // namespace sim
