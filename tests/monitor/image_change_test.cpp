// When an image is worth a history row: thresholds on voltages and
// currents, every state byte, never the time stamp.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "image_change.h"
#include "record_fields.h"

namespace {
using decode::AcC;
using decode::AcT;

// An AC image of one screen with `channels` channels, all zero.
std::vector<uint8_t> AcImage(uint8_t channels) {
    std::vector<uint8_t> image(sizeof(AcT) + sizeof(AcC) * channels, 0);
    image[offsetof(AcT, channel_count)] = channels;
    return image;
}

void SetFloat(std::vector<uint8_t>& image, size_t at, float v) { std::memcpy(&image[at], &v, 4); }

bool Changed(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b, int type = 5175) {
    return monitor::ImageChanged(type, a.data(), a.size(), b.data(), b.size(), {20.0f, 5.0f});
}
}  // namespace

TEST(ImageChange, ThresholdsStateBytesAndTheTimeStamp) {
    const std::vector<uint8_t> before = AcImage(2);
    const size_t second = sizeof(AcT) + sizeof(AcC);  // the second channel
    const auto with = [&](size_t at, float v) {
        auto image = before;
        SetFloat(image, at, v);
        return image;
    };
    EXPECT_FALSE(Changed(before, with(second + offsetof(AcC, b), 19.9f)));
    EXPECT_TRUE(Changed(before, with(second + offsetof(AcC, b), 20.0f)));
    EXPECT_TRUE(Changed(before, with(second + offsetof(AcC, c), -20.0f)));
    EXPECT_FALSE(Changed(before, with(offsetof(AcT, ia), 4.9f)));
    EXPECT_TRUE(Changed(before, with(offsetof(AcT, ic), 5.0f)));
    // The frequency takes no part in the indication, but a row at the stop
    // keeps the exact last image.
    const auto frequency = with(second + offsetof(AcC, f), 50.0f);
    EXPECT_FALSE(Changed(before, frequency));
    EXPECT_TRUE(monitor::ImageDiffers(5175, before.data(), before.size(), frequency.data(),
                                      frequency.size()));

    auto alarm = before;
    alarm[second + offsetof(AcC, c_alert)] = 2;
    EXPECT_TRUE(Changed(before, alarm));
    auto stamped = before;
    stamped[offsetof(AcT, ttime) + 6] = 59;
    EXPECT_FALSE(Changed(before, stamped));
    EXPECT_FALSE(monitor::ImageDiffers(5175, before.data(), before.size(), stamped.data(),
                                       stamped.size()));
    EXPECT_TRUE(Changed(before, AcImage(3)));

    // DC: v against diff_v, i against diff_i.
    std::vector<uint8_t> dc(sizeof(decode::DcT), 0), dcLater = dc;
    SetFloat(dcLater, offsetof(decode::DcT, i), 6.0f);
    EXPECT_TRUE(Changed(dc, dcLater, 5176));
    SetFloat(dcLater, offsetof(decode::DcT, i), 0.0f);
    SetFloat(dcLater, offsetof(decode::DcT, v), 19.0f);
    EXPECT_FALSE(Changed(dc, dcLater, 5176));
}
