// Floats in JSON as people write them: a writer set up by SetJsonDigits
// prints a FloatJson value as the float's shortest decimal; a NaN or an
// infinity prints as it did before.
#include <gtest/gtest.h>

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <cstring>
#include <limits>
#include <string>

#include "float_json.h"

namespace {
// `v` as the tools' writers print it, on one line.
std::string Printed(const Json::Value& v) {
    Json::StreamWriterBuilder builder;
    builder["indentation"] = "";
    site::SetJsonDigits(builder);
    return Json::writeString(builder, v);
}

std::string Shortest(float v) {
    char text[32];
    const std::to_chars_result written = std::to_chars(text, text + sizeof text, v);
    return std::string(text, written.ptr);
}

// The significant digits of a number's text: "230.1" and "2.301e+2" both give "2301".
std::string Digits(const std::string& text) {
    std::string out;
    for (const char c : text.substr(0, text.find_first_of("eE"))) {
        if (c >= '0' && c <= '9') out += c;
    }
    out.erase(0, std::min(out.find_first_not_of('0'), out.size()));
    out.erase(out.find_last_not_of('0') + 1);
    return out;
}

uint32_t Bits(float v) {
    uint32_t bits;
    std::memcpy(&bits, &v, 4);
    return bits;
}

float ReadBack(const std::string& text) {
    float v = std::numeric_limits<float>::quiet_NaN();
    std::from_chars(text.data(), text.data() + text.size(), v);
    return v;
}

struct Case {
    float value;
    const char* text;
    const char* what;
};

// The default scenario's values; a sum the simulator makes in float keeps the
// digits the float has ("230.40001", not "230.4").
const Case kScenario[] = {
    {230.1f, "230.1", "first AC channel, phase A"},
    {229.6f, "229.6", "first AC channel, phase B"},
    {231.0f, "231.0", "first AC channel, phase C: a whole number keeps its .0"},
    {50.0f, "50.0", "AC frequency, module input frequency"},
    {230.1f + 0.3f, "230.40001", "second AC channel, phase A, summed in float"},
    {12.5f, "12.5", "AC phase A current"},
    {13.1f, "13.1", "AC phase B current"},
    {12.8f, "12.8", "AC phase C current"},
    {53.5f, "53.5", "DC voltage, module output voltage"},
    {53.5f - 0.1f, "53.4", "second DC screen's voltage"},
    {5.2f, "5.2", "first battery current"},
    {5.2f - 0.3f, "4.8999996", "second battery current, summed in float"},
    {561.8f, "561.8", "module output power"},
    {95.2f, "95.2", "module efficiency"},
    {57.6f, "57.6", "DC upper voltage limit"},
    {43.2f, "43.2", "module set point"},
    {0.25f, "0.25", "step of the user-defined DC limits"},
    {0.1f, "0.1", "a tenth"},
    {-0.1f, "-0.1", "the fill of a value not provided"},
    {-0.0f, "-0.0", "negative zero"},
    {1.0f / 3.0f, "0.33333334", "nine significant digits"},
    {123456.79f, "123456.79", "nine digits, six before the point"},
    {16777216.0f, "16777216.0", "two to the 24th"},
    {0.0001f, "0.0001", "small"},
    {3.4028235e38f, "3.4028235e+38", "the largest float"},
    {1e-45f, "1e-45", "the smallest float"},
};
}  // namespace

TEST(FloatJson, PrintsTheShortestDecimalOfTheDefaultScenariosValues) {
    for (const Case& c : kScenario) {
        EXPECT_EQ(c.text, Printed(site::FloatJson(c.value))) << c.what;
    }
}

TEST(FloatJson, NotANumberAndInfinitiesPrintAsTheyAlwaysDid) {
    const float kNotFinite[] = {std::numeric_limits<float>::quiet_NaN(),
                                std::numeric_limits<float>::infinity(),
                                -std::numeric_limits<float>::infinity()};
    for (const float v : kNotFinite) {
        EXPECT_EQ(Printed(Json::Value(static_cast<double>(v))), Printed(site::FloatJson(v))) << v;
    }
    EXPECT_EQ("null", Printed(site::FloatJson(std::numeric_limits<float>::quiet_NaN())));
}

// Bit patterns spread over every sign, exponent and mantissa: the text has
// the shortest decimal's digits and reads back to the same float.
TEST(FloatJson, EveryFloatPrintsItsShortestDigitsAndReadsBack) {
    constexpr uint64_t kStride = 40961;  // odd, so low mantissa bits vary too
    int checked = 0;
    for (uint64_t bits = 0; bits <= 0xFFFFFFFFu; bits += kStride) {
        const uint32_t pattern = static_cast<uint32_t>(bits);
        if ((pattern & 0x7F800000u) == 0x7F800000u) continue;  // not finite
        float v;
        std::memcpy(&v, &pattern, 4);
        const std::string text = Printed(site::FloatJson(v));
        ASSERT_EQ(Digits(Shortest(v)), Digits(text)) << Shortest(v) << " printed as " << text;
        ASSERT_EQ(pattern, Bits(ReadBack(text))) << Shortest(v) << " printed as " << text;
        ++checked;
    }
    EXPECT_GT(checked, 100000);
}
