#pragma once
// The entities offered to Home Assistant for the values of each child.
// Columns: record type; where the field lives (the record's header, every
// channel record, or every value of an array field); the field's name in the
// record field tables; for an array, the header field that counts the values
// the device sent; the object id's prefix and the name's word for one of
// several (numbered from 1 in names, from 0 in ids, as the ids always were);
// the entity's kind and device class; the unit when the record does not name
// one (nullptr: the field table's); and the name after that word.
#include <array>
#include <cstdint>

namespace mqtt {

enum class Scope : uint8_t { Header, Channel, Element };
// A measurement sensor, or a binary_sensor that is on while the field holds 1.
enum class Shape : uint8_t { Measurement, Problem };

struct EntityRow {
    int recordType;
    Scope scope;
    const char* field;  // an Element field's count is the field table's
    const char* idPrefix;
    const char* each;
    Shape shape;
    const char* deviceClass;
    const char* unit;
    const char* name;
};

// The record names no unit for the battery and rectifier values; these carry
// their usual meaning in this protocol family, as the status page shows them.
// clang-format off: one row per line
constexpr std::array<EntityRow, 14> kEntityRows = {{
    {5175, Scope::Channel, "a", "ch", "Channel", Shape::Measurement, "voltage", nullptr, "phase A voltage"},
    {5175, Scope::Channel, "b", "ch", "Channel", Shape::Measurement, "voltage", nullptr, "phase B voltage"},
    {5175, Scope::Channel, "c", "ch", "Channel", Shape::Measurement, "voltage", nullptr, "phase C voltage"},
    {5175, Scope::Channel, "f", "ch", "Channel", Shape::Measurement, "frequency", nullptr, "frequency"},
    {5175, Scope::Header, "ia", "", nullptr, Shape::Measurement, "current", nullptr, "Phase A current"},
    {5175, Scope::Header, "ib", "", nullptr, Shape::Measurement, "current", nullptr, "Phase B current"},
    {5175, Scope::Header, "ic", "", nullptr, Shape::Measurement, "current", nullptr, "Phase C current"},
    {5176, Scope::Header, "v", "", nullptr, Shape::Measurement, "voltage", nullptr, "Bus voltage"},
    {5176, Scope::Header, "i", "", nullptr, Shape::Measurement, "current", nullptr, "Load current"},
    {5176, Scope::Element, "m_values", "bat", "Battery", Shape::Measurement, "current", "A", "current"},
    {5176, Scope::Element, "n_values", "bat", "Battery", Shape::Measurement, "temperature", "°C", "temperature"},
    {5177, Scope::Header, "group_value", "", nullptr, Shape::Measurement, "voltage", "V", "Output voltage"},
    {5177, Scope::Channel, "module_value", "mod", "Module", Shape::Measurement, "current", "A", "output current"},
    {5177, Scope::Channel, "fault", "mod", "Module", Shape::Problem, "problem", nullptr, "fault"},
}};
// clang-format on

}  // namespace mqtt
