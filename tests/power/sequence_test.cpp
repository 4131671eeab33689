// The poll sequence through RefreshStatus and process_payload.
#include <gtest/gtest.h>

#include "FakeChildren.h"

using namespace testing_support;
using Steps = std::vector<int>;

TEST(PollSequence, FreshDeviceQueriesTheModelThenEveryGroupInFull) {
    PowerRig rig(2, 1);
    ASSERT_TRUE(rig.configured);
    rig.power->SetUpdateTime(host_local_now());  // the model query ignores the gate
    ASSERT_TRUE(rig.power->RefreshStatus());
    while (rig.Answer()) {}
    EXPECT_EQ((Steps{14, 0, 1, 2, 4, 5, 6, 7, 8, 3, 9}), rig.SentSteps());
    EXPECT_EQ(0, rig.Step());
    EXPECT_FALSE(rig.power->CheckModelPending());
    const auto& c = rig.controller->commands;
    EXPECT_EQ(0x40, c[0].cid1);
    EXPECT_EQ(0x51, c[0].cid2);
    EXPECT_TRUE(c[0].info.empty());
    EXPECT_EQ((Bytes{0xFF}), c[1].info);   // AC commands carry the command group
    EXPECT_TRUE(c[4].info.empty());        // rectifier commands never do
    EXPECT_EQ((Bytes{0xFF}), c[7].info);   // DC commands do with version 0x21
    EXPECT_TRUE(c[9].info.empty());        // parameter queries do not
    EXPECT_EQ(11u, rig.controller->pauses.size());  // one per reply
    EXPECT_EQ(20000u, rig.controller->pauses.front());
}

TEST(PollSequence, CycleEndsWithRoundDoneOnAcThenDcThenRectifier) {
    PowerRig rig(2, 2);
    rig.RunCycle();
    const auto& log = CallLog();
    const std::vector<std::string> tail(log.end() - 5, log.end());
    EXPECT_EQ((std::vector<std::string>{"RoundDone 11", "RoundDone 12", "RoundDone 21",
                                        "RoundDone 22", "RoundDone 1"}),
              tail);
}

TEST(PollSequence, ReadyDeviceFollowsTheDataFlags) {
    struct Case { uint8_t flag; Steps steps; };
    const Case cases[] = {
        {0x00, {14, 0, 4, 7, 3, 9}},
        {0x01, {14, 0, 2, 4, 6, 7, 8, 3, 9}},
        {0x10, {14, 0, 1, 4, 5, 7, 8, 3, 9}},
        {0x11, {14, 0, 1, 2, 4, 5, 6, 7, 8, 3, 9}},
    };
    for (const auto& c : cases) {
        PowerRig rig(1, 1, true);
        EXPECT_EQ(c.steps, rig.RunCycle(c.flag)) << int(c.flag);
    }
}

TEST(PollSequence, WithoutAcChildrenTheCycleStartsAtTheRectifiersAndSkipsStep3) {
    PowerRig rig(0, 1);
    EXPECT_EQ((Steps{14, 4, 5, 6, 7, 8, 9}), rig.RunCycle());
    rig.controller->commands.clear();
    EXPECT_EQ((Steps{4, 5, 6, 7, 8, 9}), rig.RunCycle());
}

TEST(PollSequence, WithoutDcChildrenTheCycleEndsAfterTheRectifiers) {
    PowerRig rig(1, 0);
    EXPECT_EQ((Steps{14, 0, 1, 2, 4, 5, 6}), rig.RunCycle());
    PowerRig ready(1, 0, true);
    EXPECT_EQ((Steps{14, 0, 4}), ready.RunCycle(0x00));
}

TEST(PollSequence, OtherVersionsSendDcCommandsWithoutInfo) {
    PowerRig rig(1, 1);
    rig.power->SetVersion(0x20);
    rig.RunCycle();
    for (const auto& c : rig.controller->commands) {
        if (c.cid1 == 0x42) {
            EXPECT_TRUE(c.info.empty()) << c.step;
        }
        if (c.cid1 == 0x40 && c.cid2 != 0x51 && c.cid2 != 0x46) {
            EXPECT_EQ((Bytes{0xFF}), c.info);
        }
    }
}

TEST(RefreshGate, HoldsBackWithinTwoSecondsAndClearsTheIdleCount) {
    PowerRig rig(1, 1);
    rig.RunCycle();
    rig.controller->commands.clear();
    rig.power->SetUpdateTime(host_local_now() - boost::posix_time::seconds(1));
    EXPECT_FALSE(rig.power->RefreshStatus());
    EXPECT_EQ(0, rig.power->IdleCount());
    EXPECT_TRUE(rig.controller->commands.empty());
    rig.power->SetUpdateTime(host_local_now() - boost::posix_time::seconds(2));
    EXPECT_TRUE(rig.power->RefreshStatus());
    EXPECT_EQ(1u, rig.controller->commands.size());
}

TEST(RefreshGate, RefusesWhileAnExchangeIsPending) {
    PowerRig rig(1, 1);
    ASSERT_TRUE(rig.Refresh());
    EXPECT_FALSE(rig.Refresh());
    rig.power->process_error();  // the reply timed out
    EXPECT_TRUE(rig.Refresh());
    EXPECT_EQ((Steps{14, 14}), rig.SentSteps());
}

TEST(RefreshGate, RepeatsTheCurrentStepAndIgnoresUnknownSteps) {
    PowerRig rig(1, 1);
    rig.RunCycle();
    rig.controller->commands.clear();
    rig.power->SetStep(5);
    EXPECT_TRUE(rig.Refresh());
    rig.power->Reset();
    rig.power->SetStep(12);
    EXPECT_TRUE(rig.Refresh());
    ASSERT_EQ(1u, rig.controller->commands.size());
    EXPECT_EQ(0x41, rig.controller->commands[0].cid1);
    EXPECT_EQ(0x43, rig.controller->commands[0].cid2);
}

// A lost or refused parameter reply must not stall the poll: the next
// refresh sends the parameter query again.
TEST(RefreshGate, LostParameterRepliesAreSentAgain) {
    PowerRig rig(1, 1);
    rig.RunCycle();
    rig.controller->commands.clear();
    ASSERT_TRUE(rig.Refresh());
    while (rig.Step() != 9 && rig.Answer()) {}
    ASSERT_EQ(9, rig.Step());
    rig.power->process_error();  // the 42/46 reply is lost
    ASSERT_TRUE(rig.Refresh());
    EXPECT_EQ(9, rig.controller->commands.back().step);
    EXPECT_EQ(0x46, rig.controller->commands.back().cid2);
    EXPECT_FALSE(rig.Answer());  // the cycle ends normally
    EXPECT_EQ(0, rig.Step());
    rig.power->SetStep(3);
    ASSERT_TRUE(rig.Refresh());
    EXPECT_EQ(0x40, rig.controller->commands.back().cid1);
    EXPECT_EQ(0x46, rig.controller->commands.back().cid2);
}

TEST(RefreshGate, ClockSetBackDoesNotStallThePoll) {
    PowerRig rig(1, 1);
    rig.RunCycle();
    rig.controller->commands.clear();
    rig.power->SetUpdateTime(host_local_now() + boost::posix_time::hours(1));
    EXPECT_TRUE(rig.power->RefreshStatus());
    EXPECT_EQ(1u, rig.controller->commands.size());
}
