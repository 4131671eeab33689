// Data images decoded into named fields.
#include <gtest/gtest.h>

#include <cstring>
#include <limits>

#include "image_decoder.h"
#include "record_fields.h"

namespace {
template <class Record>
std::vector<uint8_t> Bytes(const Record& r) {
    std::vector<uint8_t> out(sizeof(Record));
    std::memcpy(out.data(), &r, sizeof(Record));
    return out;
}
}  // namespace

TEST(ImageDecoder, AcImageWithItsChannels) {
    tele_c_trm27k_ac tele{};
    tele.id = 11;
    tele.ic = -0.5f;
    tele.channel_count = 2;
    tele.ttime[0] = 0xEA;
    std::vector<uint8_t> image = Bytes(tele);
    tele_c_trm27k_ac_channel ch{};
    ch.f = 50.0f;
    ch.c_alert = 2;
    for (int k = 0; k < 2; ++k) {
        const auto more = Bytes(ch);
        image.insert(image.end(), more.begin(), more.end());
    }
    ASSERT_EQ(5175, decode::InferType(image.size()));
    Json::Value out;
    std::string error;
    ASSERT_TRUE(decode::DecodeImage(5175, image.data(), image.size(), out, error)) << error;
    EXPECT_EQ(11u, out["id"].asUInt());
    EXPECT_FLOAT_EQ(-0.5f, out["ic"].asFloat());
    EXPECT_EQ(0xEA, out["ttime"][0].asInt());
    ASSERT_EQ(2u, out["channels"].size());
    EXPECT_FLOAT_EQ(50.0f, out["channels"][1]["f"].asFloat());
    EXPECT_EQ(2, out["channels"][1]["c_alert"].asInt());
    EXPECT_EQ(30u, out["channels"][0]["analog_user"].size());
}

TEST(ImageDecoder, DcAndRectifierImages) {
    tele_c_trm27k_dc dc{};
    dc.v = 53.5f;
    dc.alert_p[150] = 7;
    Json::Value out;
    std::string error;
    const auto dcImage = Bytes(dc);
    ASSERT_EQ(5176, decode::InferType(dcImage.size()));
    ASSERT_TRUE(decode::DecodeImage(5176, dcImage.data(), dcImage.size(), out, error));
    EXPECT_FLOAT_EQ(53.5f, out["v"].asFloat());
    EXPECT_EQ(7, out["alert_p"][150].asInt());
    tele_c_trm27k_rc rc{};
    rc.channel_count = 1;
    std::vector<uint8_t> rcImage = Bytes(rc);
    tele_c_trm27k_rc_channel module{};
    module.fault = 1;
    const auto m = Bytes(module);
    rcImage.insert(rcImage.end(), m.begin(), m.end());
    ASSERT_TRUE(decode::DecodeImage(5177, rcImage.data(), rcImage.size(), out, error));
    EXPECT_EQ(1, out["modules"][0]["fault"].asInt());
}

TEST(ImageDecoder, LengthsThatDoNotFitAreRefused) {
    tele_c_trm27k_ac tele{};
    tele.channel_count = 3;
    const auto image = Bytes(tele);  // announces 3 channels, carries none
    Json::Value out;
    std::string error;
    EXPECT_FALSE(decode::DecodeImage(5175, image.data(), image.size(), out, error));
    EXPECT_FALSE(error.empty());
    EXPECT_FALSE(decode::DecodeImage(5176, image.data(), 449, out, error));
    EXPECT_FALSE(decode::DecodeImage(5175, image.data(), 10, out, error));
    EXPECT_FALSE(decode::DecodeImage(9999, image.data(), image.size(), out, error));
    EXPECT_EQ(0, decode::InferType(10));
}

// The printed image: the default scenario's values as people write them, a
// value that is not a number as null, as it always printed.
TEST(ImageDecoder, PrintsEachValueAsItsShortestDecimal) {
    tele_c_trm27k_ac tele{};
    tele.ia = 12.5f;
    tele.ib = 13.1f;
    tele.ic = std::numeric_limits<float>::quiet_NaN();
    tele.channel_count = 1;
    std::vector<uint8_t> image = Bytes(tele);
    tele_c_trm27k_ac_channel ch{};
    ch.a = 230.1f + 0.3f;  // the second channel's phase A, summed in float
    ch.b = 229.6f;
    ch.f = 50.0f;
    const auto channel = Bytes(ch);
    image.insert(image.end(), channel.begin(), channel.end());
    Json::Value out;
    std::string error;
    ASSERT_TRUE(decode::DecodeImage(5175, image.data(), image.size(), out, error)) << error;
    const std::string text = decode::JsonText(out);
    for (const char* printed : {"\"ia\" : 12.5,", "\"ib\" : 13.1,", "\"ic\" : null,",
                                "\"a\" : 230.40001,", "\"b\" : 229.6,", "\"f\" : 50.0,"}) {
        EXPECT_NE(std::string::npos, text.find(printed)) << printed << " in " << text;
    }
}
