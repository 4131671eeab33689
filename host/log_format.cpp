#include "log_format.h"

#include <cstring>

namespace host {

namespace {
// printf conversions a template may carry; each consumes one argument.
bool IsConversion(char c) { return c == 'u' || c == 'd' || c == 'i' || c == 's' || c == 'x'; }
}  // namespace

std::string FormatLogLine(const char* tmpl, const std::vector<std::string>& args) {
    std::string out;
    out.reserve(std::strlen(tmpl) + 16 * args.size());
    size_t next = 0;
    for (const char* p = tmpl; *p != '\0'; ++p) {
        const bool brace = p[0] == '{' && p[1] == '}';
        const bool percent = p[0] == '%' && IsConversion(p[1]);
        if (brace || percent) {
            if (next < args.size()) out += args[next++];
            ++p;
        } else if (p[0] == '%' && p[1] == '%') {
            out += '%';
            ++p;
        } else {
            out += *p;
        }
    }
    return out;
}

}  // namespace host
