// The DC record and the device's construction: layout of the 450-byte image,
// capacities, starting content, constructors and the virtual interface.
#include <gtest/gtest.h>

#include <cstddef>

#include "DcTestKit.h"

using namespace testing_support;

TEST(DcRecord, CapacitiesAndSize) {
    EXPECT_EQ(6, tele_c_trm27k_dc::M_SIZE());
    EXPECT_EQ(6, tele_c_trm27k_dc::N_SIZE());
    EXPECT_EQ(55, tele_c_trm27k_dc::P_SIZE());
    EXPECT_EQ(6, tele_c_trm27k_dc::ALERT_M_SIZE());
    EXPECT_EQ(151, tele_c_trm27k_dc::ALERT_P_SIZE());
    EXPECT_EQ(450u, sizeof(tele_c_trm27k_dc));
    EXPECT_EQ(1u, alignof(tele_c_trm27k_dc));
    using Other = tele_c_pmbuspower_dc<1, 2, 3, 4, 5>;
    EXPECT_EQ(4 + 4 + 4 + 1 + 4 + 1 + 8 + 1 + 12 + 1 + 1 + 4 + 1 + 5 + 7, sizeof(Other));
}

// Each field written through the record lands at its binding offset.
TEST(DcRecord, FieldsSitAtTheirOffsets) {
    tele_c_trm27k_dc t{};
    t.id = 0x04030201u;
    t.v = 1.0f;
    t.i = 2.0f;
    t.dc_m = 0x11;
    t.m_values[5] = 3.0f;
    t.dc_n = 0x12;
    t.n_values[0] = 4.0f;
    t.p_count = 0x13;
    t.p_values[54] = 5.0f;
    t.v_alarm = 0x14;
    t.alert_m_count = 0x15;
    t.alert_m[0] = 0x16;
    t.alert_m[5] = 0x17;
    t.alert_p_count = 0x18;
    t.alert_p[0] = 0x19;
    t.alert_p[150] = 0x1A;
    t.ttime[0] = 0x1B;
    t.ttime[6] = 0x1C;
    const Bytes b = RecordBytes(t);
    EXPECT_EQ((Bytes{1, 2, 3, 4}), Bytes(b.begin(), b.begin() + 4));
    EXPECT_EQ(1.0f, FloatAt(b.data(), 4));
    EXPECT_EQ(2.0f, FloatAt(b.data(), 8));
    EXPECT_EQ(0x11, b[12]);
    EXPECT_EQ(3.0f, FloatAt(b.data(), 13 + 20));
    EXPECT_EQ(0x12, b[37]);
    EXPECT_EQ(4.0f, FloatAt(b.data(), 38));
    EXPECT_EQ(0x13, b[62]);
    EXPECT_EQ(5.0f, FloatAt(b.data(), 63 + 216));
    EXPECT_EQ(0x14, b[283]);
    EXPECT_EQ(0x15, b[284]);
    EXPECT_EQ(0x16, b[285]);
    EXPECT_EQ(0x17, b[290]);
    EXPECT_EQ(0x18, b[291]);
    EXPECT_EQ(0x19, b[292]);
    EXPECT_EQ(0x1A, b[442]);
    EXPECT_EQ(0x1B, b[443]);
    EXPECT_EQ(0x1C, b[449]);
}

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
