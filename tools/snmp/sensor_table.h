#pragma once
// The values the status page shows, as ENTITY-SENSOR-MIB sensors. One row per
// value: the record type, where the field sits (the header, each channel or
// module record, or each item of an array field whose count is in the header),
// the field's name in the record field tables, the sensor's name, its
// entPhySensorType, and its precision (digits after the point, as the page
// shows them). The field tables decide what counts as not provided, and how
// many items an array field holds.
#include <array>

namespace snmp {

enum class Where { Header, Channel, Array };

// entPhySensorType
enum SensorType { kVoltsAc = 3, kVoltsDc = 4, kAmperes = 5, kHertz = 7, kCelsius = 8 };

struct SensorRow {
    int recordType;
    Where where;
    const char* field;
    const char* name;
    int type;
    int precision;
};

constexpr std::array<SensorRow, 11> kSensorRows = {{
    {5175, Where::Header, "ia", "phase A current", kAmperes, 1},
    {5175, Where::Header, "ib", "phase B current", kAmperes, 1},
    {5175, Where::Header, "ic", "phase C current", kAmperes, 1},
    {5175, Where::Channel, "a", "voltage A", kVoltsAc, 1},
    {5175, Where::Channel, "b", "voltage B", kVoltsAc, 1},
    {5175, Where::Channel, "c", "voltage C", kVoltsAc, 1},
    {5175, Where::Channel, "f", "frequency", kHertz, 2},
    {5176, Where::Header, "v", "bus voltage", kVoltsDc, 2},
    {5176, Where::Header, "i", "load current", kAmperes, 1},
    {5177, Where::Header, "group_value", "output voltage", kVoltsDc, 2},
    {5177, Where::Channel, "module_value", "output current", kAmperes, 1},
}};

// Battery values of a DC screen: battery string k has item k of each array.
constexpr std::array<SensorRow, 2> kBatteryRows = {{
    {5176, Where::Array, "m_values", "current", kAmperes, 1},
    {5176, Where::Array, "n_values", "temperature", kCelsius, 1},
}};

}  // namespace snmp
