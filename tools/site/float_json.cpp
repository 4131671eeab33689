#include "float_json.h"

#include <charconv>
#include <cmath>

namespace site {

Json::Value FloatJson(float value) {
    if (!std::isfinite(value)) return Json::Value(static_cast<double>(value));
    // The longest shortest text of a float, "-1.17549435e-38", has 15 characters.
    char text[32];
    const std::to_chars_result written = std::to_chars(text, text + sizeof text, value);
    double nearest = static_cast<double>(value);
    // from_chars, not strtod: it ignores the locale's decimal point.
    std::from_chars(text, written.ptr, nearest);
    return Json::Value(nearest);
}

void SetJsonDigits(Json::StreamWriterBuilder& builder) {
    builder["precision"] = kJsonDigits;
    builder["precisionType"] = "significant";
}

}  // namespace site
