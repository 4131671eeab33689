// Reply frames and INFO layouts of the simulated power system, and which
// commands it answers.
#include <gtest/gtest.h>

#include "SimTestKit.h"

using namespace sim_testing;

namespace {
void Use(sim::Simulator& simulator, const sim::Scenario& s) {
    std::string error;
    ASSERT_TRUE(simulator.SetScenario(s, error)) << error;
}
}  // namespace

TEST(ReplyFrames, EveryCommandIsAnsweredWithOneFrameEchoingCid1WithRtn0) {
    sim::Simulator simulator;
    const sim::Scenario s = simulator.GetScenario();
    for (const sim::CommandRow& row : sim::kCommands) {
        const auto replies = Ask(simulator, Command(row.cid1, row.cid2));
        ASSERT_EQ(1u, replies.size()) << row.name;
        EXPECT_EQ('\r', replies[0].bytes.back()) << row.name;
        host::DecodedFrame frame;
        ASSERT_EQ(1, DecodeAll(replies[0].bytes, frame)) << row.name;
        EXPECT_EQ(0x21, frame.ver);
        EXPECT_EQ(1, frame.adr);
        EXPECT_EQ(row.cid1, frame.cid1) << row.name;
        EXPECT_EQ(0, frame.cid2) << row.name;
        bool known = false;
        EXPECT_EQ(sim::BuildInfo(s, row.cid1, row.cid2, known), frame.info) << row.name;
        EXPECT_TRUE(known);
    }
    EXPECT_EQ(11u, simulator.Stats().replies);
}

TEST(ReplyLayout, AcRepliesHoldDataflagCountAndOneBlockPerScreen) {
    sim::Scenario s = sim::DefaultScenario();  // 2 screens of 3 channels
    s.acDataFlag = 0x10;
    sim::Simulator simulator;
    Use(simulator, s);
    const Bytes analog = InfoOf(simulator, 0x40, 0x41);
    ASSERT_EQ(2u + 2 * (13 + 137 * 3), analog.size());
    EXPECT_EQ(0x10, analog[0]);
    EXPECT_EQ(2, analog[1]);
    EXPECT_EQ(3, analog[2]);                 // N of the first screen
    EXPECT_EQ(30, analog[2 + 17]);           // p of its first channel
    EXPECT_EQ(3, analog[2 + 13 + 137 * 3]);  // N of the second screen
    const Bytes status = InfoOf(simulator, 0x40, 0x43);
    EXPECT_EQ((Bytes{0x10, 2, 0, 13}), Bytes(status.begin(), status.begin() + 4));
    EXPECT_EQ(2u + 2 * 15, status.size());
    const Bytes alarms = InfoOf(simulator, 0x40, 0x44);
    ASSERT_EQ(2u + 2 * (4 + 24 * 3), alarms.size());
    EXPECT_EQ(3, alarms[2]);       // the screen's channel count
    EXPECT_EQ(0, alarms[2 + 5]);   // m of the first channel
    EXPECT_EQ(18, alarms[2 + 6]);  // p of the first channel
}

TEST(ReplyLayout, AcBlocksFollowEachScreensOwnChannelCount) {
    sim::Simulator simulator;
    Use(simulator, DistinctScenario({1, 4, 2}, 1, 1));
    EXPECT_EQ(2u + 3 * 13 + 137 * 7, InfoOf(simulator, 0x40, 0x41).size());
    EXPECT_EQ(2u + 3 * 4 + 24 * 7, InfoOf(simulator, 0x40, 0x44).size());
    EXPECT_EQ(2u + 3 * 15, InfoOf(simulator, 0x40, 0x43).size());
}

TEST(ReplyLayout, RectifierParameterAndModelReplies) {
    sim::Simulator simulator;  // 4 modules
    const Bytes analog = InfoOf(simulator, 0x41, 0x41);
    ASSERT_EQ(6u + 57 * 4, analog.size());
    EXPECT_EQ(4, analog[5]);
    EXPECT_EQ(13, analog[6 + 4]);
    const Bytes status = InfoOf(simulator, 0x41, 0x43);
    ASSERT_EQ(2u + 20 * 4, status.size());
    EXPECT_EQ(16, status[2 + 3]);
    const Bytes alarms = InfoOf(simulator, 0x41, 0x44);
    ASSERT_EQ(2u + 20 * 4, alarms.size());
    EXPECT_EQ(18, alarms[2 + 1]);
    const Bytes acParam = InfoOf(simulator, 0x40, 0x46);
    ASSERT_EQ(21u, acParam.size());
    EXPECT_EQ(0, acParam[20]);
    const Bytes dcParam = InfoOf(simulator, 0x42, 0x46);
    ASSERT_EQ(277u, dcParam.size());
    EXPECT_EQ(67, dcParam[8]);
    Bytes model(20, 0);
    std::memcpy(model.data(), "TRM27K", 6);
    EXPECT_EQ(model, InfoOf(simulator, 0x40, 0x51));
}

TEST(ReplyLayout, UpToThreeDcScreensCarryTheCountAheadOfTheBlocks) {
    for (size_t screens = 1; screens <= 3; ++screens) {
        const sim::Scenario s = DistinctScenario({3}, screens, 1);  // m 3, n 4, p 55
        sim::Simulator simulator;
        Use(simulator, s);
        const Bytes analog = InfoOf(simulator, 0x42, 0x41);
        const size_t block = 11 + 4 * (3 + 4 + 55);
        ASSERT_EQ(2 + screens * block, analog.size()) << screens;
        EXPECT_EQ(screens, analog[1]);
        EXPECT_EQ(s.dc[0].v, W(&analog[2])) << screens;
        EXPECT_EQ(s.dc[screens - 1].v, W(&analog[2 + (screens - 1) * block])) << screens;
        const Bytes alarms = InfoOf(simulator, 0x42, 0x44);
        ASSERT_EQ(2 + screens * (3 + 6 + 151), alarms.size()) << screens;
        EXPECT_EQ(screens, alarms[1]);
    }
}

// With more than three screens the driver hands the count byte to the first
// screen's block, so that block starts AT the count byte: the count replaces
// the least significant byte of the first voltage.
TEST(ReplyLayout, MoreThanThreeDcScreensStartTheFirstBlockAtTheCountByte) {
    const sim::Scenario s = DistinctScenario({3}, 4, 1);
    sim::Simulator simulator;
    Use(simulator, s);
    const Bytes analog = InfoOf(simulator, 0x42, 0x41);
    const size_t block = 11 + 4 * (3 + 4 + 55);
    ASSERT_EQ(1 + 4 * block, analog.size());
    EXPECT_EQ(4, analog[1]);
    EXPECT_EQ(sim::Wire4::Raw(4, s.dc[0].v.bytes[1], s.dc[0].v.bytes[2], s.dc[0].v.bytes[3]),
              W(&analog[1]));
    EXPECT_EQ(s.dc[0].i, W(&analog[5]));
    EXPECT_EQ(s.dc[1].v, W(&analog[1 + block]));
    // The alarm reply keeps the count ahead of the blocks.
    EXPECT_EQ(2 + 4 * (3u + 6 + 151), InfoOf(simulator, 0x42, 0x44).size());
}

TEST(Commands, UnknownCommandsGetRtn04WithoutInfo) {
    sim::Simulator simulator;
    for (auto [cid1, cid2] :
         {std::pair<uint8_t, uint8_t>{0x40, 0x42}, {0x41, 0x46}, {0x43, 0x41}, {0x42, 0x43}}) {
        const auto replies = Ask(simulator, Command(cid1, cid2));
        ASSERT_EQ(1u, replies.size());
        host::DecodedFrame frame;
        ASSERT_EQ(1, DecodeAll(replies[0].bytes, frame));
        EXPECT_EQ(cid1, frame.cid1);
        EXPECT_EQ(sim::kRtnUnknownCommand, frame.cid2);
        EXPECT_TRUE(frame.info.empty());
    }
    EXPECT_EQ(4u, simulator.Stats().unknownCommands);
}

TEST(Commands, AnotherVersionGetsRtn01) {
    sim::Simulator simulator;
    host::DecodedFrame frame;
    ASSERT_EQ(1, DecodeAll(Ask(simulator, Command(0x40, 0x51, 1, 0x20)).at(0).bytes, frame));
    EXPECT_EQ(sim::kRtnVersionError, frame.cid2);
    EXPECT_EQ(0x21, frame.ver);
    EXPECT_TRUE(frame.info.empty());
}

TEST(Commands, BadFramesAndOtherAddressesGetNoReply) {
    sim::Simulator simulator;
    std::string badChecksum = Command(0x40, 0x51);
    badChecksum[badChecksum.size() - 2] = badChecksum[badChecksum.size() - 2] == '0' ? '1' : '0';
    EXPECT_TRUE(Ask(simulator, badChecksum).empty());
    EXPECT_TRUE(Ask(simulator, Command(0x40, 0x51, 2)).empty());
    EXPECT_TRUE(Ask(simulator, "garbage\r~21zz\r").empty());
    EXPECT_TRUE(Ask(simulator, "~" + std::string(5000, '0')).empty());  // beyond any frame
    const sim::SimStats stats = simulator.Stats();
    EXPECT_EQ(3u, stats.badFrames);  // bytes before a start character are no frame
    EXPECT_EQ(1u, stats.otherAddress);
    EXPECT_EQ(0u, stats.commands);
    EXPECT_EQ(0u, stats.replies);
}

TEST(Commands, FramesSplitOrJoinedOnTheLineAreAnsweredInOrder) {
    sim::Simulator simulator;
    const std::string model = Command(0x40, 0x51);
    EXPECT_TRUE(Ask(simulator, model.substr(0, 7)).empty());
    EXPECT_EQ(1u, Ask(simulator, model.substr(7)).size());
    const auto replies = Ask(simulator, "noise" + Command(0x41, 0x41) + Command(0x42, 0x46));
    ASSERT_EQ(2u, replies.size());
    host::DecodedFrame first, second;
    ASSERT_EQ(1, DecodeAll(replies[0].bytes, first));
    ASSERT_EQ(1, DecodeAll(replies[1].bytes, second));
    EXPECT_EQ(0x41, first.cid1);
    EXPECT_EQ(0x42, second.cid1);
    const sim::SimStats stats = simulator.Stats();
    EXPECT_EQ(3u, stats.commands);
    EXPECT_EQ(model.size() + 5 + Command(0x41, 0x41).size() + Command(0x42, 0x46).size(),
              stats.bytesReceived);
    EXPECT_EQ(replies[0].bytes.size() + replies[1].bytes.size() + 58, stats.bytesSent);
}

TEST(Commands, TheScenarioAddressIsTheOneAnswered) {
    sim::Scenario s = sim::DefaultScenario();
    s.address = 5;
    sim::Simulator simulator;
    Use(simulator, s);
    EXPECT_TRUE(Ask(simulator, Command(0x40, 0x51, 1)).empty());
    host::DecodedFrame frame;
    ASSERT_EQ(1, DecodeAll(Ask(simulator, Command(0x40, 0x51, 5)).at(0).bytes, frame));
    EXPECT_EQ(5, frame.adr);
    // Several addresses, as power systems on one bus, each answering as
    // itself; a silent one (switched off) does not.
    simulator.SetAddresses({1, 2});
    s.silent = {2};
    Use(simulator, s);
    EXPECT_TRUE(Ask(simulator, Command(0x40, 0x51, 5)).empty());
    EXPECT_TRUE(Ask(simulator, Command(0x40, 0x51, 2)).empty());
    ASSERT_EQ(1, DecodeAll(Ask(simulator, Command(0x40, 0x51, 1)).at(0).bytes, frame));
    EXPECT_EQ(1, frame.adr);
    s.silent.clear();
    Use(simulator, s);
    ASSERT_EQ(1, DecodeAll(Ask(simulator, Command(0x40, 0x51, 2)).at(0).bytes, frame));
    EXPECT_EQ(2, frame.adr);
}
