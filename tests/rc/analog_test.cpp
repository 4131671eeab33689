// Module analog values (41/41): the module count rule, the marker rule,
// skipped counts and every truncation.
#include <cstring>

#include "RcTestKit.h"

using namespace testing_support;

namespace {
using Analog = RcFixture;
constexpr RcParser k41 = &TRM27KRC::parse41_41;
}  // namespace

TEST_F(Analog, FirstReplyFixesTheModuleCountAndALaterCountIsRefused) {
    const Bytes three = AnalogReply(3);
    ASSERT_EQ(177u, three.size());
    EXPECT_EQ(177, Parse(k41, three));
    EXPECT_EQ(3, rc->tele.channel_count);
    ASSERT_EQ(3u, rc->channels.size());
    EXPECT_EQ(1002.25f, Val(rc->channels[2].module_value));
    EXPECT_EQ(13, rc->channels[2].analog_p);
    EXPECT_EQ(AnalogOf(2, 12), Val(rc->channels[2].analog_user[12]));
    const auto before = rc->channels;
    EXPECT_EQ(-1, Parse(k41, AnalogReply(4, 48.0f)));
    EXPECT_EQ(48.0f, Val(rc->tele.group_value));  // taken before the count is judged
    EXPECT_EQ(3, rc->tele.channel_count);
    ASSERT_EQ(3u, rc->channels.size());
    EXPECT_EQ(0, std::memcmp(before.data(), rc->channels.data(), 3 * sizeof before[0]));
    EXPECT_TRUE(controller->logs.empty());
}

// A module pulled at the site (4 to 3): two replies are refused as bad ones
// would be, the third running adopts the count and the poll goes on. The
// module records, status and alarms included, are laid out anew.
TEST_F(Analog, AModuleCountRepeatedThreeTimesIsAdopted) {
    ASSERT_EQ(234, Parse(k41, AnalogReply(4)));
    ASSERT_EQ(2 + 4 * 20, Parse(&TRM27KRC::parse41_44, AlarmReply(4, 0x33)));
    EXPECT_EQ(-1, Parse(k41, AnalogReply(3)));
    EXPECT_EQ(-1, Parse(k41, AnalogReply(5)));  // another count starts over
    EXPECT_EQ(-1, Parse(k41, AnalogReply(3)));
    EXPECT_EQ(-1, Parse(k41, AnalogReply(3)));
    EXPECT_EQ(4u, rc->channels.size());
    EXPECT_TRUE(controller->logs.empty());
    EXPECT_EQ(177, Parse(k41, AnalogReply(3)));
    EXPECT_EQ(3, rc->tele.channel_count);
    ASSERT_EQ(3u, rc->channels.size());
    EXPECT_EQ(0, rc->channels[0].alarm_user[0]);
    EXPECT_EQ(AnalogOf(2, 12), Val(rc->channels[2].analog_user[12]));
    ASSERT_EQ(1u, controller->logs.size());
    EXPECT_EQ("PMBusPowerRC<TeleRC,TeleRCChannel,RT_RC>:ProcotolError 7 read 41_41 "
              "channel_count is 3 in 3 blocks, 4 replaced",
              LastLog());
    // The number of blocks is text: the host's log takes three arguments at most.
    EXPECT_EQ((std::vector<std::string>{"7", "3", "4"}), controller->logs[0].args);
    // The rest of the cycle follows the new count.
    EXPECT_EQ(2 + 3 * 20, Parse(&TRM27KRC::parse41_43, StatusReply(3)));
    EXPECT_EQ(0, Parse(&TRM27KRC::parse41_44, AlarmReply(4)));
}

TEST_F(Analog, ZeroModulesLeaveTheCountOpen) {
    EXPECT_EQ(6, Parse(k41, AnalogReply(0)));
    EXPECT_TRUE(rc->channels.empty());
    EXPECT_EQ(120, Parse(k41, AnalogReply(2)));
    EXPECT_EQ(2u, rc->channels.size());
}

// Only the 13 analog values honour the marker, and there four equal bytes,
// zero included, store zero; the module and group values are kept as sent.
TEST_F(Analog, MarkerAppliesToAnalogValuesOnly) {
    Bytes b{0x11};
    PutN(b, 0x20, 4);  // group value
    Put(b, 1);
    PutN(b, 0x20, 4);  // module value
    Put(b, 13);
    PutN(b, 0x20, 4);
    PutN(b, 0xFF, 4);
    PutBytes(b, Hex("12 12 12 13"));
    PutN(b, 0x00, 4);
    for (int k = 4; k < 13; ++k) PutN(b, 0x33, 4);
    ASSERT_EQ(63, Parse(k41, b));
    const auto& module = rc->channels[0];
    EXPECT_EQ(0x20202020u, BitsOf(rc->tele.group_value));
    EXPECT_EQ(0x20202020u, BitsOf(module.module_value));
    EXPECT_EQ(0u, BitsOf(module.analog_user[0]));
    EXPECT_EQ(0u, BitsOf(module.analog_user[1]));
    EXPECT_EQ(0x13121212u, BitsOf(module.analog_user[2]));
    EXPECT_EQ(0u, BitsOf(module.analog_user[3]));
    EXPECT_EQ(0u, BitsOf(module.analog_user[12]));
}

TEST_F(Analog, WrongAnalogCountIsLoggedSkippedAndKeepsEarlierValues) {
    ASSERT_EQ(120, Parse(k41, AnalogReply(2)));
    Bytes b{0x11};
    PutF(b, 1.0f);
    Put(b, 2);
    PutModuleValues(b, 5, 12);
    PutModuleValues(b, 6);
    ASSERT_EQ(6 + 53 + 57, static_cast<int>(b.size()));
    EXPECT_EQ(116, Parse(k41, b));
    EXPECT_EQ(12, rc->channels[0].analog_p);
    EXPECT_EQ(1005.25f, Val(rc->channels[0].module_value));
    EXPECT_EQ(AnalogOf(0, 0), Val(rc->channels[0].analog_user[0]));
    EXPECT_EQ(AnalogOf(6, 12), Val(rc->channels[1].analog_user[12]));
    ASSERT_EQ(1u, controller->logs.size());
    EXPECT_EQ("PMBusPowerRC<TeleRC,TeleRCChannel,RT_RC>:ProcotolError 7 read 41_41 p is 12 not 13",
              LastLog());
}

TEST_F(Analog, EveryTruncationIsRefusedWithItsOverflowLine) {
    const Bytes reply = AnalogReply(2);
    ASSERT_EQ(120, Parse(k41, reply));
    for (size_t cut = 0; cut < reply.size(); ++cut) {
        EXPECT_EQ(-1, ParseCut(k41, reply, cut)) << cut;
        ExpectOverflowAt(*controller, cut);
    }
    const std::string read = "PMBusPowerAC:ProcotolError 7 read 41_41 read overflow ";
    const std::string inChannel = "PMBusPowerAC:ProcotolError 7 read 41_41 in channel overflow ";
    const struct {
        size_t cut;
        std::string line;
    } cases[] = {
        {0, read + "5 - 0"},         {3, read + "5 - 3"},
        {5, read + "6 - 5"},         {8, read + "10 - 8"},
        {11, inChannel + "63 - 11"}, {62, inChannel + "63 - 62"},
        {66, read + "67 - 66"},      {119, inChannel + "120 - 119"},
    };
    for (const auto& c : cases) {
        ParseCut(k41, reply, c.cut);
        EXPECT_EQ(c.line, LastLog());
    }
}

TEST_F(Analog, ASkippedCountThatRunsPastTheEndIsARefusal) {
    Bytes b{0x11};
    PutF(b, 1.0f);
    Put(b, 1);
    PutModuleValues(b, 0, 12);
    EXPECT_EQ(-1, ParseCut(k41, b, b.size() - 1));
    EXPECT_EQ("PMBusPowerAC:ProcotolError 7 read 41_41 read overflow 59 - 58", LastLog());
}

TEST_F(Analog, ReplyAtAnOddAddressIsReadTheSame) {
    const Bytes reply = AnalogReply(2);
    Bytes shifted{0};
    PutBytes(shifted, reply);
    EXPECT_EQ(120, rc->parse41_41(shifted.data() + 1, 120));
    EXPECT_EQ(AnalogOf(1, 7), Val(rc->channels[1].analog_user[7]));
}
