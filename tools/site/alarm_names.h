#pragma once
// English names for alarm rules, from the table in alarm_name_table.h.
#include <string>

namespace site {

// The English name of one device text, or nullptr when the table has no row.
const char* EnglishText(const std::string& text);
// A rule's display name: its name in English, followed in parentheses by the
// channel, fuse or module its detail names and the detail's own text when it
// says more than the name ("AC input voltage high (channel 1, input
// line/phase voltage CA/C)"). A text without a row stays as the device sent it.
std::string EnglishName(const std::string& name, const std::string& detail);

}  // namespace site
