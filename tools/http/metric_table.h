#pragma once
// The values of the children's records exported as metrics, one row per
// series kind. Columns: the record type; whether the field sits in the header
// record or in each channel record (AC channel, rectifier module); the
// field's name in the record field tables; how it is read; for a state, the
// byte value that makes it 1; the metric family (base unit in the name) and
// its help text; the label that numbers the channel, module or array entry
// from 1 ("" for none); and one label with a fixed value ("" for none).
// The field tables decide what counts as not provided; rows of one family
// stand together.
#include <array>
#include <cstdint>

namespace http {

enum class Part { Header, Channel };

enum class Read {
    Float,   // the field's value
    Array,   // each entry of an array field that the record counts as valid
    Equals,  // 1 when the byte holds `match`, else 0 (a state set)
};

struct MetricRow {
    int recordType;
    Part part;
    const char* field;
    Read read;
    uint8_t match;
    const char* family;
    const char* help;
    const char* indexLabel;
    const char* fixedLabel;
    const char* fixedValue;
};

constexpr const char* kAcVolts = "AC input line or phase voltage.";
constexpr const char* kAcAmps = "AC phase current.";
constexpr const char* kDcAlarm = "1 while the DC voltage alarm is in this state (low, high).";

constexpr std::array<MetricRow, 16> kMetricRows = {{
    {5175, Part::Channel, "a", Read::Float, 0, "trm27k_ac_input_voltage_volts", kAcVolts, "channel", "phase", "a"},
    {5175, Part::Channel, "b", Read::Float, 0, "trm27k_ac_input_voltage_volts", kAcVolts, "channel", "phase", "b"},
    {5175, Part::Channel, "c", Read::Float, 0, "trm27k_ac_input_voltage_volts", kAcVolts, "channel", "phase", "c"},
    {5175, Part::Channel, "f", Read::Float, 0, "trm27k_ac_input_frequency_hertz", "AC input frequency.", "channel",
     "", ""},
    {5175, Part::Header, "ia", Read::Float, 0, "trm27k_ac_phase_current_amperes", kAcAmps, "", "phase", "a"},
    {5175, Part::Header, "ib", Read::Float, 0, "trm27k_ac_phase_current_amperes", kAcAmps, "", "phase", "b"},
    {5175, Part::Header, "ic", Read::Float, 0, "trm27k_ac_phase_current_amperes", kAcAmps, "", "phase", "c"},
    {5176, Part::Header, "v", Read::Float, 0, "trm27k_dc_voltage_volts", "DC distribution (bus) voltage.", "", "",
     ""},
    {5176, Part::Header, "i", Read::Float, 0, "trm27k_dc_current_amperes", "DC distribution (load) current.", "",
     "", ""},
    {5176, Part::Header, "v_alarm", Read::Equals, 1, "trm27k_dc_voltage_alarm", kDcAlarm, "", "state", "low"},
    {5176, Part::Header, "v_alarm", Read::Equals, 2, "trm27k_dc_voltage_alarm", kDcAlarm, "", "state", "high"},
    {5176, Part::Header, "m_values", Read::Array, 0, "trm27k_battery_current_amperes",
     "Battery current.", "battery", "", ""},
    {5176, Part::Header, "n_values", Read::Array, 0, "trm27k_battery_temperature_celsius", "Battery temperature.",
     "battery", "", ""},
    {5177, Part::Header, "group_value", Read::Float, 0, "trm27k_rectifier_output_voltage_volts",
     "Rectifier group output voltage.", "", "", ""},
    {5177, Part::Channel, "module_value", Read::Float, 0, "trm27k_rectifier_module_current_amperes",
     "Rectifier module output current.", "module", "", ""},
    {5177, Part::Channel, "fault", Read::Equals, 1, "trm27k_rectifier_module_fault", "1 while the module reports a fault.",
     "module", "", ""},
}};

}  // namespace http
