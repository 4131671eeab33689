// The device-model check of the first reply.
#include <gtest/gtest.h>

#include "FakeChildren.h"

using namespace testing_support;

namespace {
Bytes Field(const std::string& text, uint8_t pad, size_t length = 20) {
    Bytes b(text.begin(), text.end());
    if (b.size() < length) b.resize(length, pad);
    return b;
}
}  // namespace

TEST(ModelCheck, AcceptedNamePaddedWithZerosOrSpacesRaisesNothing) {
    for (uint8_t pad : {uint8_t{0}, uint8_t{' '}}) {
        PowerRig rig(1, 1);
        rig.Refresh();
        EXPECT_TRUE(rig.Feed(0x40, Field("TRM27K", pad)));
        EXPECT_TRUE(rig.power->PendingRules().empty());
        EXPECT_EQ(20u, rig.power->DeviceModel().size());
        EXPECT_FALSE(rig.power->CheckModelPending());
        EXPECT_EQ(0, rig.Step());
    }
}

TEST(ModelCheck, OtherModelRaisesTheReportAndThePollGoesOn) {
    PowerRig rig(0, 1);
    rig.Refresh();
    const Bytes field = Field("XR900", 0);
    EXPECT_TRUE(rig.Feed(0x40, field));
    ASSERT_EQ(1u, rig.power->PendingRules().size());
    const rule_value& r = rig.power->PendingRules()[0];
    EXPECT_EQ(3, r.level);
    EXPECT_EQ("device_model", r.key);
    EXPECT_EQ("70319", r.code);
    EXPECT_EQ("设备配置检测", r.name);
    EXPECT_EQ("本驱动类型:trm27k 检测型号:" + std::string(field.begin(), field.end()), r.detail);
    EXPECT_EQ(1, r.active);
    EXPECT_EQ(0, r.sequence);
    EXPECT_EQ(4, rig.Step());  // no AC children
    EXPECT_EQ(0x41, rig.controller->commands.back().cid1);
}

TEST(ModelCheck, ALongerNameOrTrailingTextDoesNotMatch) {
    for (const char* text : {"TRM27KX", " TRM27K", "TRM27"}) {
        PowerRig rig(1, 1);
        rig.Refresh();
        rig.Feed(0x40, Field(text, 0));
        EXPECT_EQ(1u, rig.power->PendingRules().size()) << text;
    }
}

TEST(ModelCheck, ShortReplyTakesTheBytesItHas) {
    PowerRig rig(1, 1);
    rig.Refresh();
    EXPECT_TRUE(rig.Feed(0x40, Field("TRM27K", 0, 6)));
    EXPECT_EQ("TRM27K", rig.power->DeviceModel());
    EXPECT_TRUE(rig.power->PendingRules().empty());
}

TEST(ModelCheck, WrongCid1KeepsTheQueryPending) {
    PowerRig rig(1, 1);
    rig.Refresh();
    EXPECT_TRUE(rig.Feed(0x41, Field("TRM27K", 0)));
    EXPECT_TRUE(rig.power->CheckModelPending());
    EXPECT_EQ(14, rig.Step());
}
