#pragma once
// A request target ("/api/history?data_id=11&field=v") as its decoded path
// and query parameters. Percent escapes are decoded in both, '+' is a blank
// in the query only; a parameter may be given more than once (the API
// refuses that itself, with its own reason).
#include <map>
#include <string>
#include <string_view>

namespace http {

struct Target {
    std::string path;
    std::multimap<std::string, std::string> params;
};

// False when the target is not a path or holds a broken escape ("%4", "%zz")
// or an escaped NUL.
bool ParseTarget(std::string_view text, Target& out);

}  // namespace http
