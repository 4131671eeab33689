#pragma once
// Numbers as people write them. The power system's values are 32-bit floats;
// widened to a double as they are, 230.1f is 230.100006103515625 and a JSON
// writer prints it as such. FloatJson holds the float's shortest decimal
// instead (the shortest text that reads back to the same float) as the double
// nearest to it, and a writer set up by SetJsonDigits prints that double as
// the decimal again: any decimal of up to 15 significant digits survives the
// trip through its nearest double, and a float's shortest text has at most 9.
#include <json/json.h>

namespace site {

// Significant digits every JSON writer of the tools prints a double with.
constexpr int kJsonDigits = 15;

// `value` as a JSON number printed as its shortest decimal. A NaN or an
// infinity stays the double it widens to, so writers treat it as before.
Json::Value FloatJson(float value);

// Sets `builder` to print doubles with kJsonDigits significant digits.
void SetJsonDigits(Json::StreamWriterBuilder& builder);

}  // namespace site
