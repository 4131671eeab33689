// AC parameters (40/46) and DC parameters (42/46): announced lengths,
// the values kept, and refusals of replies too short for their fixed part.
#include <cstring>

#include "RcTestKit.h"

using namespace testing_support;

namespace {
using Params = RcFixture;
constexpr RcParser k40 = &TRM27KRC::parse40_46;
constexpr RcParser k42 = &TRM27KRC::parse42_46;
}  // namespace

TEST_F(Params, AcParametersGiveTheAnnouncedLengthAndKeepOnlyTheFiveValues) {
    const Bytes reply = AcParamReply(3);
    EXPECT_EQ(33, Parse(k40, reply));
    EXPECT_EQ(220.5f, Val(rc->tele.ac_param[0]));
    EXPECT_EQ(224.5f, Val(rc->tele.ac_param[4]));
    EXPECT_EQ(0.0f, Val(rc->tele.dc_param[0]));
    // The announced values are not read, so a reply cut inside them still
    // gives the announced length (the main device compares it).
    EXPECT_EQ(33, ParseCut(k40, reply, 21));
    EXPECT_EQ(21, Parse(k40, AcParamReply(0)));
    EXPECT_TRUE(controller->logs.empty());
}

TEST_F(Params, AcParametersShorterThanTheirFixedPartAreRefused) {
    const Bytes reply = AcParamReply(0);
    EXPECT_EQ(-1, ParseCut(k40, reply, 20));
    EXPECT_EQ("PMBusPowerAC:ProcotolError 7 read 40_46 read overflow 21 - 20", LastLog());
    EXPECT_EQ(220.5f, Val(rc->tele.ac_param[0]));
    rc->tele.ac_param[0] = 0.0f;
    for (size_t cut = 0; cut < 20; ++cut) {
        EXPECT_EQ(-1, ParseCut(k40, AcParamReply(5), cut)) << cut;
        EXPECT_EQ(
            "PMBusPowerAC:ProcotolError 7 read 40_46 read overflow 20 - " + std::to_string(cut),
            LastLog());
    }
    EXPECT_EQ(0.0f, Val(rc->tele.ac_param[0]));
}

TEST_F(Params, CompleteDcParametersKeep208BytesAndCountOnlyThose) {
    const Bytes reply = DcParamReply(67);
    ASSERT_EQ(277u, reply.size());
    EXPECT_EQ(217, Parse(k42, reply));
    EXPECT_EQ(53.5f, Val(rc->tele.dc_param[0]));
    EXPECT_EQ(43.5f, Val(rc->tele.dc_param[1]));
    EXPECT_EQ(67, rc->tele.dc_param_p);
    EXPECT_EQ(0, std::memcmp(rc->tele.dc_param_user, reply.data() + 9, 208));
    EXPECT_TRUE(controller->logs.empty());
}

TEST_F(Params, ShortDcParametersKeepWhatCameAndLeaveTheRest) {
    std::memset(rc->tele.dc_param_user, 0xEE, sizeof rc->tele.dc_param_user);
    const Bytes reply = DcParamReply(67);
    EXPECT_EQ(100, ParseCut(k42, reply, 100));
    EXPECT_EQ(0, std::memcmp(rc->tele.dc_param_user, reply.data() + 9, 91));
    EXPECT_EQ(0xEE, rc->tele.dc_param_user[91]);
    EXPECT_EQ(9, ParseCut(k42, reply, 9));
}

TEST_F(Params, WrongDcCountIsLoggedAndGivesTheAnnouncedLength) {
    ASSERT_EQ(217, Parse(k42, DcParamReply(67)));
    const uint8_t first = rc->tele.dc_param_user[0];
    Bytes other = DcParamReply(66);
    other[9] = 0x99;
    EXPECT_EQ(273, Parse(k42, other));
    EXPECT_EQ(66, rc->tele.dc_param_p);
    EXPECT_EQ(first, rc->tele.dc_param_user[0]);
    EXPECT_EQ("TRM27K:ProcotolError parse42_46 7 p:66 != 67", LastLog());
}

TEST_F(Params, DcParametersShorterThanTheirFixedPartAreRefused) {
    const Bytes reply = DcParamReply(67);
    for (size_t cut = 0; cut < 9; ++cut) {
        EXPECT_EQ(-1, ParseCut(k42, reply, cut)) << cut;
        ExpectOverflowAt(*controller, cut);
    }
    EXPECT_EQ("PMBusPowerAC:ProcotolError 7 read 42_46 read overflow 9 - 8", LastLog());
    EXPECT_EQ(0, rc->tele.dc_param_p);
}
