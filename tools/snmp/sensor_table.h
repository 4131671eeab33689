#pragma once
// The values the status page shows, as ENTITY-SENSOR-MIB sensors. One row per
// value: the record type, where the field sits (the header, each channel or
// module record, or each item of an array field whose count is in the header),
// the field's name in the record field tables, the sensor's name, its
// entPhySensorType, and its precision (digits after the point, as the page
// shows them). The field tables decide what counts as not provided.
#include <array>

namespace snmp {

enum class Where { Header, Channel, Array };

// entPhySensorType
enum SensorType { kVoltsAc = 3, kVoltsDc = 4, kAmperes = 5, kHertz = 7, kCelsius = 8 };

struct SensorRow {
    int recordType;
    Where where;
    const char* field;
    const char* countField;  // Array: the header byte that counts the items
    const char* name;
    int type;
    int precision;
};

constexpr std::array<SensorRow, 11> kSensorRows = {{
    {5175, Where::Header, "ia", nullptr, "phase A current", kAmperes, 1},
    {5175, Where::Header, "ib", nullptr, "phase B current", kAmperes, 1},
    {5175, Where::Header, "ic", nullptr, "phase C current", kAmperes, 1},
    {5175, Where::Channel, "a", nullptr, "voltage A", kVoltsAc, 1},
    {5175, Where::Channel, "b", nullptr, "voltage B", kVoltsAc, 1},
    {5175, Where::Channel, "c", nullptr, "voltage C", kVoltsAc, 1},
    {5175, Where::Channel, "f", nullptr, "frequency", kHertz, 2},
    {5176, Where::Header, "v", nullptr, "bus voltage", kVoltsDc, 2},
    {5176, Where::Header, "i", nullptr, "load current", kAmperes, 1},
    {5177, Where::Header, "group_value", nullptr, "output voltage", kVoltsDc, 2},
    {5177, Where::Channel, "module_value", nullptr, "output current", kAmperes, 1},
}};

// Battery values of a DC screen: battery string k has item k of each array.
constexpr std::array<SensorRow, 2> kBatteryRows = {{
    {5176, Where::Array, "m_values", "dc_m", "current", kAmperes, 1},
    {5176, Where::Array, "n_values", "dc_n", "temperature", kCelsius, 1},
}};

}  // namespace snmp
