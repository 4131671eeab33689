#pragma once
// The measured values exported as metrics. One row per value: the record
// type, whether the field sits in the header or in each channel record, the
// field's name in the record field tables, the metric family (base unit in
// the name), its help text, and the phase label it carries ("" for none).
// The field tables decide units and what counts as not provided.
#include <array>

namespace http {

enum class Part { Header, Channel };

struct MetricRow {
    int recordType;
    Part part;
    const char* field;
    const char* family;
    const char* help;
    const char* phase;
};

constexpr std::array<MetricRow, 9> kMetricRows = {{
    {5175, Part::Channel, "a", "trm27k_ac_input_voltage_volts", "AC input line or phase voltage.", "a"},
    {5175, Part::Channel, "b", "trm27k_ac_input_voltage_volts", "AC input line or phase voltage.", "b"},
    {5175, Part::Channel, "c", "trm27k_ac_input_voltage_volts", "AC input line or phase voltage.", "c"},
    {5175, Part::Channel, "f", "trm27k_ac_input_frequency_hertz", "AC input frequency.", ""},
    {5175, Part::Header, "ia", "trm27k_ac_phase_current_amperes", "AC phase current.", "a"},
    {5175, Part::Header, "ib", "trm27k_ac_phase_current_amperes", "AC phase current.", "b"},
    {5175, Part::Header, "ic", "trm27k_ac_phase_current_amperes", "AC phase current.", "c"},
    {5176, Part::Header, "v", "trm27k_dc_voltage_volts", "DC distribution voltage.", ""},
    {5176, Part::Header, "i", "trm27k_dc_current_amperes", "DC distribution current.", ""},
}};

}  // namespace http
