// The one change rule: thresholds on voltages and currents, every state
// byte, never the time stamp or a value of unknown meaning.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "change_rule.h"
#include "record_fields.h"

namespace {
using site::AcC;
using site::AcT;

// An AC image of one screen with `channels` channels, all zero.
std::vector<uint8_t> AcImage(uint8_t channels) {
    std::vector<uint8_t> image(sizeof(AcT) + sizeof(AcC) * channels, 0);
    image[offsetof(AcT, channel_count)] = channels;
    return image;
}

void SetFloat(std::vector<uint8_t>& image, size_t at, float v) { std::memcpy(&image[at], &v, 4); }

bool Changed(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b, int type = 5175) {
    return site::CountsAsChanged(*site::LayoutOf(type), a, b.data(), b.size(), {20.0f, 5.0f});
}
}  // namespace

TEST(ChangeRule, ThresholdsStateBytesAndTheTimeStamp) {
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
    EXPECT_FALSE(Changed(before, with(second + offsetof(AcC, f), 50.0f))) << "the frequency takes no part";

    auto alarm = before;
    alarm[second + offsetof(AcC, c_alert)] = 2;
    EXPECT_TRUE(Changed(before, alarm)) << "a state byte always counts";
    auto stamped = before;
    stamped[offsetof(AcT, ttime) + 6] = 59;
    EXPECT_FALSE(Changed(before, stamped));
    EXPECT_TRUE(Changed(before, AcImage(3)));
    EXPECT_TRUE(Changed({}, before)) << "the first image";

    // DC: v against diff_v, i against diff_i, the alarm bytes always.
    std::vector<uint8_t> dc(sizeof(site::DcT), 0), dcLater = dc;
    SetFloat(dcLater, offsetof(site::DcT, i), 6.0f);
    EXPECT_TRUE(Changed(dc, dcLater, 5176));
    SetFloat(dcLater, offsetof(site::DcT, i), 0.0f);
    SetFloat(dcLater, offsetof(site::DcT, v), 19.0f);
    EXPECT_FALSE(Changed(dc, dcLater, 5176));
    dcLater[offsetof(site::DcT, v_alarm)] = 1;
    EXPECT_TRUE(Changed(dc, dcLater, 5176));

    // The rectifier group: its voltage and the module currents against the
    // thresholds, the other analog values not at all, never its time stamp.
    std::vector<uint8_t> rc(sizeof(site::RcT) + sizeof(site::RcC), 0), rcLater = rc;
    rc[offsetof(site::RcT, channel_count)] = rcLater[offsetof(site::RcT, channel_count)] = 1;
    SetFloat(rcLater, offsetof(site::RcT, group_value), 19.9f);
    EXPECT_FALSE(Changed(rc, rcLater, 5177));
    SetFloat(rcLater, sizeof(site::RcT) + offsetof(site::RcC, module_value), 5.0f);
    EXPECT_TRUE(Changed(rc, rcLater, 5177));
    rcLater = rc;
    SetFloat(rcLater, offsetof(site::RcT, dc_param), 53.5f);
    SetFloat(rcLater, sizeof(site::RcT) + offsetof(site::RcC, analog_user), 31.0f);
    EXPECT_FALSE(Changed(rc, rcLater, 5177)) << "parameters and user values take no part";
    rcLater[sizeof(site::RcT) + offsetof(site::RcC, fault)] = 1;
    EXPECT_TRUE(Changed(rc, rcLater, 5177));
    rcLater = rc;
    rcLater[offsetof(site::RcT, ttime)] = 1;
    EXPECT_FALSE(Changed(rc, rcLater, 5177));
    EXPECT_FLOAT_EQ(0.5f, site::ThresholdsOf(5177, Json::Value()).diffV) << "the group's own default";
}
