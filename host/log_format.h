#pragma once
#include "host_api.h"
// Renders a diagnostic template: each "{}" takes the next argument; printf
// conversions (%u, %d, %s, %x) take the next argument too, "%%" is a percent.
#include <string>
#include <type_traits>
#include <vector>

namespace host {

HOST_API std::string FormatLogLine(const char* tmpl, const std::vector<std::string>& args);

// Log arguments are shown as numbers; an unsigned char is a count, not a character.
template <class T>
std::string LogArgText(const T& value) {
    if constexpr (std::is_same_v<T, bool>) {
        return value ? "true" : "false";
    } else if constexpr (std::is_integral_v<T>) {
        return std::to_string(+value);
    } else if constexpr (std::is_floating_point_v<T>) {
        return std::to_string(value);
    } else {
        return std::string(value);
    }
}

}  // namespace host
