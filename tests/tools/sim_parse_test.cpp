// The simulator's replies fed to the driver's real child parsers: every
// block is consumed exactly and decodes to the scenario's values.
#include <gtest/gtest.h>

#include "SimTestKit.h"

using namespace sim_testing;

namespace {

struct Rig {
    sim::Simulator simulator;
    sim::Scenario s;
    Children children;
    Rig(const sim::Scenario& scenario)
        : s(scenario), children(scenario.ac.size(), scenario.dc.size()) {
        std::string error;
        EXPECT_TRUE(simulator.SetScenario(s, error)) << error;
    }
    Bytes Info(uint8_t cid1, uint8_t cid2) { return InfoOf(simulator, cid1, cid2); }
};

void ExpectAcChannel(const sim::AcChannel& want, const tele_c_trm27k_ac_channel& got) {
    EXPECT_EQ(want.a, W(&got.a));
    EXPECT_EQ(want.b, W(&got.b));
    EXPECT_EQ(want.c, W(&got.c));
    EXPECT_EQ(want.f, W(&got.f));
    for (size_t k = 0; k < 30; ++k) EXPECT_EQ(want.user[k], W(&got.analog_user[k])) << k;
    EXPECT_EQ((std::array<uint8_t, 4>{want.aAlert, want.bAlert, want.cAlert, want.fAlert}),
              (std::array<uint8_t, 4>{got.a_alert, got.b_alert, got.c_alert, got.f_alert}));
    EXPECT_EQ(want.alarmUser, Bytes(got.alarm_user, got.alarm_user + 18));
}

void ExpectAcScreen(const sim::AcScreen& want, const TRM27KAC& got) {
    ASSERT_EQ(want.channels.size(), got.channels.size());
    for (size_t k = 0; k < want.channels.size(); ++k)
        ExpectAcChannel(want.channels[k], got.channels[k]);
    EXPECT_EQ(want.ia, W(&got.tele.ia));
    EXPECT_EQ(want.ib, W(&got.tele.ib));
    EXPECT_EQ(want.ic, W(&got.tele.ic));
    EXPECT_EQ(want.status, Bytes(got.tele.status_user, got.tele.status_user + 13));
    EXPECT_EQ((std::array<uint8_t, 3>{want.iaAlert, want.ibAlert, want.icAlert}),
              (std::array<uint8_t, 3>{got.tele.ia_alert, got.tele.ib_alert, got.tele.ic_alert}));
}

void ExpectDcScreen(const sim::DcScreen& want, const tele_c_trm27k_dc& got) {
    EXPECT_EQ(want.i, W(&got.i));
    ASSERT_EQ(want.m.size(), got.dc_m);
    for (size_t k = 0; k < want.m.size(); ++k) EXPECT_EQ(want.m[k], W(&got.m_values[k]));
    ASSERT_EQ(want.n.size(), got.dc_n);
    for (size_t k = 0; k < want.n.size(); ++k) EXPECT_EQ(want.n[k], W(&got.n_values[k]));
    for (size_t k = 0; k < 55; ++k) EXPECT_EQ(want.user[k], W(&got.p_values[k])) << k;
    EXPECT_EQ(want.vAlarm, got.v_alarm);
    EXPECT_EQ(want.fuses, Bytes(got.alert_m, got.alert_m + 6));
    EXPECT_EQ(want.alarmUser, Bytes(got.alert_p, got.alert_p + 151));
}

}  // namespace

TEST(DriverParsers, AcBlocksAreConsumedExactlyAndDecodeToTheScenario) {
    Rig rig(DistinctScenario({3, 2}, 1, 1));
    auto& ac = rig.children.ac;
    const Bytes analog = rig.Info(0x40, 0x41);
    EXPECT_EQ(static_cast<int>(analog.size()),
              Children::Dispatch(ac, &TRM27KAC::parse40_41, analog, 2));
    const Bytes status = rig.Info(0x40, 0x43);
    EXPECT_EQ(static_cast<int>(status.size()),
              Children::Dispatch(ac, &TRM27KAC::parse40_43, status, 2));
    const Bytes alarms = rig.Info(0x40, 0x44);
    EXPECT_EQ(static_cast<int>(alarms.size()),
              Children::Dispatch(ac, &TRM27KAC::parse40_44, alarms, 2));
    for (size_t k = 0; k < ac.size(); ++k) ExpectAcScreen(rig.s.ac[k], *ac[k]);
    EXPECT_TRUE(rig.children.controller->logs.empty());
}

TEST(DriverParsers, DcBlocksAreConsumedExactlyForOneToFourScreens) {
    for (size_t screens = 1; screens <= 4; ++screens) {
        Rig rig(DistinctScenario({3}, screens, 1));
        auto& dc = rig.children.dc;
        const Bytes analog = rig.Info(0x42, 0x41);
        const int start = screens > 3 ? 1 : 2;  // where the driver starts the first block
        EXPECT_EQ(static_cast<int>(analog.size()),
                  Children::Dispatch(dc, &TRM27KDC::parse42_41, analog, start))
            << screens;
        const Bytes alarms = rig.Info(0x42, 0x44);
        EXPECT_EQ(static_cast<int>(alarms.size()),
                  Children::Dispatch(dc, &TRM27KDC::parse42_44, alarms, 2))
            << screens;
        for (size_t k = 0; k < screens; ++k) {
            SCOPED_TRACE(testing::Message() << screens << " screens, screen " << k);
            ExpectDcScreen(rig.s.dc[k], dc[k]->tele);
            sim::Wire4 v = rig.s.dc[k].v;
            if (screens > 3 && k == 0)
                v.bytes[0] = static_cast<uint8_t>(screens);  // the count byte
            EXPECT_EQ(v, W(&dc[k]->tele.v));
        }
        EXPECT_TRUE(rig.children.controller->logs.empty()) << screens;
    }
}

TEST(DriverParsers, RectifierRepliesAreConsumedExactlyAndDecodeToTheScenario) {
    Rig rig(DistinctScenario({3}, 1, 5));
    TRM27KRC& rc = *rig.children.rc;
    for (auto [cid2, parse] : {std::pair{uint8_t{0x41}, &TRM27KRC::parse41_41},
                               std::pair{uint8_t{0x43}, &TRM27KRC::parse41_43},
                               std::pair{uint8_t{0x44}, &TRM27KRC::parse41_44}}) {
        const Bytes info = rig.Info(0x41, cid2);
        EXPECT_EQ(static_cast<int>(info.size()),
                  (rc.*parse)(info.data(), static_cast<int>(info.size())))
            << static_cast<int>(cid2);
    }
    EXPECT_EQ(rig.s.groupValue, W(&rc.tele.group_value));
    ASSERT_EQ(5u, rc.channels.size());
    for (size_t m = 0; m < 5; ++m) {
        const sim::RcModule& want = rig.s.modules[m];
        const tele_c_trm27k_rc_channel& got = rc.channels[m];
        EXPECT_EQ(want.value, W(&got.module_value));
        for (size_t k = 0; k < 13; ++k) EXPECT_EQ(want.analog[k], W(&got.analog_user[k]));
        EXPECT_EQ(Bytes(want.status.begin(), want.status.end()), Bytes(got.status, got.status + 3));
        EXPECT_EQ(want.statusUser, Bytes(got.status_user, got.status_user + 16));
        EXPECT_EQ(want.fault, got.fault);
        EXPECT_EQ(want.alarmUser, Bytes(got.alarm_user, got.alarm_user + 18));
    }
    EXPECT_TRUE(rig.children.controller->logs.empty());
}

TEST(DriverParsers, ParameterRepliesGoToTheRectifierChildWhole) {
    Rig rig(DistinctScenario({3}, 1, 1));
    TRM27KRC& rc = *rig.children.rc;
    const Bytes ac = rig.Info(0x40, 0x46);
    EXPECT_EQ(static_cast<int>(ac.size()), rc.parse40_46(ac.data(), static_cast<int>(ac.size())));
    for (size_t k = 0; k < 5; ++k) EXPECT_EQ(rig.s.acParam[k], W(&rc.tele.ac_param[k]));
    const Bytes dc = rig.Info(0x42, 0x46);
    // The record keeps 52 of the 67 values, and the parser counts only those.
    EXPECT_EQ(217, rc.parse42_46(dc.data(), static_cast<int>(dc.size())));
    for (size_t k = 0; k < 2; ++k) EXPECT_EQ(rig.s.dcParam[k], W(&rc.tele.dc_param[k]));
    EXPECT_EQ(67, rc.tele.dc_param_p);
    for (size_t k = 0; k < 52; ++k)
        EXPECT_EQ(rig.s.dcParamExtra[k], W(&rc.tele.dc_param_user[4 * k]));
    EXPECT_TRUE(rig.children.controller->logs.empty());
}
