// The DC device's construction: starting content, thresholds, constructors
// and the virtual interface. (The record's layout is pinned where it is
// declared.)
#include <gtest/gtest.h>

#include "DcTestKit.h"

using namespace testing_support;

TEST(DcDevice, StartsAllZeroWithDefaultThresholds) {
    TRM27KDC dc;
    EXPECT_EQ(Bytes(450, 0), RecordBytes(dc.tele));
    EXPECT_EQ(0.1f, dc.diff_v);
    EXPECT_EQ(20.0f, dc.diff_i);
    EXPECT_EQ(0.0f, dc.last_v);
    EXPECT_EQ(0.0f, dc.last_i);
    EXPECT_TRUE(dc.model_text.empty());
    EXPECT_EQ("trm27k-dc", dc.DeviceType());
    EXPECT_FALSE(dc.DataReady());
}

TEST(DcDevice, ModelTextConstructorKeepsACopy) {
    std::string text = "TRM27K-48V";
    TRM27KDC dc(text);
    text = "changed";
    EXPECT_EQ("TRM27K-48V", dc.model_text);
    EXPECT_EQ("trm27k-dc", dc.DeviceType());
    EXPECT_EQ(Bytes(450, 0), RecordBytes(dc.tele));
    EXPECT_EQ(0.1f, dc.diff_v);
    EXPECT_EQ(20.0f, dc.diff_i);
}

// The main device reaches the parsers and the catalogue through the template base.
TEST(DcDevice, ParsersAndCatalogueAreVirtual) {
    BoundDc b;
    PMBusPowerDC<tele_c_trm27k_dc, 5176>& base = *b.dc;
    const Bytes analog = DcAnalogBlock(0, 0, 0);
    EXPECT_EQ(11, base.parse42_41(analog.data(), 11));
    const Bytes alarms = DcAlarmBlock(1, {}, {});
    EXPECT_EQ(3, base.parse42_44(alarms.data(), 3));
    EXPECT_EQ(1, b.dc->tele.v_alarm);
    std::unique_ptr<SMDVDevice> owned = std::make_unique<TRM27KDC>("x");
    EXPECT_EQ("trm27k-dc", owned->DeviceType());
}
