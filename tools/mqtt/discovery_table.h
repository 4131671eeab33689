#pragma once
// The sensors offered to Home Assistant: the main measured values of each
// child. Columns: record type, whether the field is in every channel record,
// the field's name in the record field tables (which give its unit), the
// device class, and the sensor's name.
#include <array>

namespace mqtt {

struct SensorRow {
    int recordType;
    bool perChannel;
    const char* field;
    const char* deviceClass;
    const char* name;
};

constexpr std::array<SensorRow, 9> kSensorRows = {{
    {5175, true, "a", "voltage", "voltage A"},
    {5175, true, "b", "voltage", "voltage B"},
    {5175, true, "c", "voltage", "voltage C"},
    {5175, true, "f", "frequency", "frequency"},
    {5175, false, "ia", "current", "current A"},
    {5175, false, "ib", "current", "current B"},
    {5175, false, "ic", "current", "current C"},
    {5176, false, "v", "voltage", "voltage"},
    {5176, false, "i", "current", "current"},
}};

}  // namespace mqtt
