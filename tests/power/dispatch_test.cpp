// Reply dispatch: CID1 checks, unit counts, parser refusals, consumed lengths.
#include <gtest/gtest.h>

#include "FakeChildren.h"

using namespace testing_support;

namespace {
// A rig already past the model query, at step 0 with a cycle started.
struct AtStep0 : PowerRig {
    AtStep0(int ac, int dc, bool ready = false) : PowerRig(ac, dc, ready) {
        Refresh();
        Answer();  // model reply
        controller->commands.clear();
        controller->logs.clear();
        power->Reset();
        Refresh();  // sends step 0 (or 4 without AC children)
        controller->commands.clear();
    }
    // Walks the cycle with well-formed replies until `step` is current.
    void GoTo(int step) {
        while (Step() != step && Answer()) {}
        ASSERT_EQ(step, Step());
        controller->commands.clear();
        controller->logs.clear();
    }
    size_t Sent() const { return controller->commands.size(); }
};
}  // namespace

TEST(Dispatch, WrongCid1AtStep0EndsTheExchange) {
    AtStep0 rig(1, 1);
    EXPECT_FALSE(rig.Feed(0x41, rig.InfoFor(0)));
    EXPECT_EQ(0, rig.Step());
    EXPECT_EQ(0u, rig.Sent());
    EXPECT_TRUE(rig.Ac(0).calls.empty());
}

TEST(Dispatch, WrongCid1ElsewhereIsIgnoredAndTheStepKept) {
    for (int step : {1, 2, 4, 5, 6, 7, 8, 3, 9}) {
        AtStep0 rig(1, 1);
        rig.GoTo(step);
        const uint8_t wrong = PowerRig::Cid1For(step) == 0x42 ? 0x40 : 0x42;
        EXPECT_TRUE(rig.Feed(wrong, rig.InfoFor(step))) << step;
        EXPECT_EQ(step, rig.Step());
        EXPECT_EQ(0u, rig.Sent()) << step;
    }
}

TEST(Dispatch, AcUnitCountMismatchIsLoggedAndResetButKeepsTheFlag) {
    AtStep0 rig(2, 1);
    Bytes info = Hex("11 03");
    PutN(info, 0, 9);
    EXPECT_FALSE(rig.Feed(0x40, info));
    ASSERT_EQ(1u, rig.controller->logs.size());
    EXPECT_EQ("PMBusPower:ProcotolError 1 read ac_number is 3, configured ac_number is 2",
              rig.controller->logs[0].text);
    EXPECT_EQ(0x11, rig.power->AcDataFlag());
    EXPECT_TRUE(rig.Ac(0).calls.empty());
}

TEST(Dispatch, AcBlocksFollowOneAnotherAndMustEndAtTheLength) {
    AtStep0 rig(2, 1);
    rig.Ac(0).block = 2;
    rig.Ac(1).block = 4;
    EXPECT_TRUE(rig.Feed(0x40, Hex("00 02 01 02 03 04 05 06")));
    EXPECT_EQ((Bytes{1, 2, 3, 4, 5, 6}), rig.Ac(0).calls[0].block);
    EXPECT_EQ((Bytes{3, 4, 5, 6}), rig.Ac(1).calls[0].block);
    EXPECT_EQ(1, rig.Step());
    EXPECT_EQ((Bytes{0xFF}), rig.controller->commands.at(0).info);
    // One byte left over: logged, and the sequence stays at step 1... here step 0.
    AtStep0 over(2, 1);
    over.Ac(0).block = 2;
    over.Ac(1).block = 3;
    EXPECT_TRUE(over.Feed(0x40, Hex("00 02 01 02 03 04 05 06")));
    EXPECT_EQ(0, over.Step());
    EXPECT_EQ(0u, over.Sent());
    EXPECT_EQ("PMBusPower:ProcotolError 1 parse 40_41 overflow memory boundary",
              over.controller->logs.at(0).text);
}

TEST(Dispatch, ARefusingParserStopsTheReplyAndSkipsLaterChildren) {
    AtStep0 rig(2, 1);
    rig.Ac(0).results = {-1};
    EXPECT_TRUE(rig.Answer());
    EXPECT_TRUE(rig.Ac(1).calls.empty());
    EXPECT_EQ(0, rig.Step());
    EXPECT_TRUE(rig.controller->logs.empty());
}

TEST(Dispatch, AcStatusWithoutBlocksMovesOnAtOnce) {
    AtStep0 rig(1, 1);
    rig.GoTo(1);
    EXPECT_TRUE(rig.Feed(0x40, Hex("00 01")));
    EXPECT_TRUE(rig.Ac(0).calls.size() == 1);  // only the analog block
    EXPECT_EQ(2, rig.Step());
}

TEST(Dispatch, AcStatusAndAlarmLengthMismatches) {
    AtStep0 rig(1, 1);
    rig.GoTo(1);
    rig.Ac(0).results = {2};
    EXPECT_TRUE(rig.Answer());
    EXPECT_EQ(1, rig.Step());
    EXPECT_EQ("PMBusPower:ProcotolError 1 parse 40_43 overflow memory boundary",
              rig.controller->logs.at(0).text);
    rig.GoTo(2);
    rig.Ac(0).results = {2};  // one byte short of L, no log line
    EXPECT_TRUE(rig.Answer());
    EXPECT_EQ(2, rig.Step());
    EXPECT_TRUE(rig.controller->logs.empty());
}

TEST(Dispatch, RectifierRepliesMustBeConsumedExactly) {
    const std::pair<int, const char*> steps[] = {
        {4, "PMBusPower:ProcotolError 1 parse p41_41 overflow memory boundary"},
        {5, "PMBusPower:ProcotolError 1 parse p41_43 overflow memory boundary"},
        {6, "PMBusPower:ProcotolError 1 parse p41_44 overflow memory boundary"}};
    for (const auto& [step, line] : steps) {
        for (int result : {-1, 3, 5}) {
            AtStep0 rig(1, 1);
            rig.GoTo(step);
            rig.Rc().results = {result};
            EXPECT_TRUE(rig.Feed(0x41, Hex("10 01 02 03")));
            EXPECT_EQ(step, rig.Step());
            ASSERT_EQ(1u, rig.controller->logs.size());
            EXPECT_EQ(line, rig.controller->logs[0].text);
        }
    }
}

TEST(Dispatch, RectifierAnalogStoresTheFlagBeforeParsing) {
    AtStep0 rig(1, 1, true);
    rig.GoTo(4);
    rig.Rc().results = {-1};
    rig.Feed(0x41, Hex("11 00"));
    EXPECT_EQ(0x11, rig.power->RcDataFlag());
    EXPECT_EQ((Bytes{0x11, 0x00}), rig.Rc().calls.back().block);  // the whole INFO
}

TEST(Dispatch, DcUnitCountMismatchIsLoggedWithoutReset) {
    for (int step : {7, 8}) {
        AtStep0 rig(1, 2);
        rig.GoTo(step);
        EXPECT_TRUE(rig.Feed(0x42, Hex("00 01 00 00")));
        EXPECT_EQ(step, rig.Step());
        EXPECT_EQ("PMBusPower:ProcotolError 1 read dc_number is 1, configured dc_number is 2",
                  rig.controller->logs.at(0).text);
    }
}

TEST(Dispatch, MoreThanThreeDcScreensHandTheCountByteToTheFirst) {
    AtStep0 one(1, 1);
    one.GoTo(7);
    one.Feed(0x42, Hex("00 01 D1 D2"));
    EXPECT_EQ((Bytes{0xD1, 0xD2}), one.Dc(0).calls.back().block);
    AtStep0 four(1, 4);
    four.GoTo(7);
    four.Dc(0).block = 3;
    four.Feed(0x42, Hex("00 04 01 02 03 04 05 06 07 08 09"));
    EXPECT_EQ((Bytes{0x04, 1, 2, 3, 4, 5, 6, 7, 8, 9}), four.Dc(0).calls.back().block);
    EXPECT_EQ((Bytes{3, 4, 5, 6, 7, 8, 9}), four.Dc(1).calls.back().block);
    EXPECT_EQ(8, four.Step());
}

TEST(Dispatch, DcOverrunIsLoggedAndTheSequenceGoesOnShortIsAccepted) {
    AtStep0 rig(1, 1);
    rig.GoTo(7);
    rig.Dc(0).results = {5};
    EXPECT_TRUE(rig.Feed(0x42, Hex("00 01 D1 D2")));
    EXPECT_EQ("PMBusPower:ProcotolError 1 parse 42_41 overflow memory boundary",
              rig.controller->logs.at(0).text);
    EXPECT_EQ(8, rig.Step());
    rig.controller->logs.clear();
    rig.Dc(0).results = {0};
    EXPECT_TRUE(rig.Feed(0x42, Hex("00 01 D1 D2")));
    EXPECT_TRUE(rig.controller->logs.empty());
    EXPECT_EQ(3, rig.Step());
}

// A screen that claims more than the reply holds leaves the next screen an
// empty block at the reply's end, never a position past it.
TEST(Dispatch, OverConsumptionLeavesTheNextScreenAnEmptyBlockAtTheEnd) {
    AtStep0 rig(1, 2);
    rig.GoTo(7);
    rig.Dc(0).results = {50};
    EXPECT_TRUE(rig.Feed(0x42, Hex("00 02 D1 D2 D3 D4")));
    const ParseCall& first = rig.Dc(0).calls.back();
    const ParseCall& second = rig.Dc(1).calls.back();
    EXPECT_EQ(4u, first.block.size());
    EXPECT_TRUE(second.block.empty());
    EXPECT_EQ(first.data + 4, second.data);
    EXPECT_EQ((std::vector<std::string>{
                  "PMBusPower:ProcotolError 1 parse 42_41 overflow memory boundary"}),
              rig.controller->LogTexts());
    EXPECT_EQ(8, rig.Step());
}

TEST(Dispatch, DcAlarmsWithoutAcChildrenGoToTheDcParameters) {
    AtStep0 rig(0, 1);
    rig.GoTo(8);
    rig.Dc(0).results = {9};
    EXPECT_TRUE(rig.Answer());
    EXPECT_EQ("PMBusPower:ProcotolError 1 parse 42_44 overflow memory boundary",
              rig.controller->logs.at(0).text);
    EXPECT_EQ(9, rig.Step());
    EXPECT_EQ(0x42, rig.controller->commands.at(0).cid1);
    EXPECT_EQ(0x46, rig.controller->commands.at(0).cid2);
}

TEST(Dispatch, ParameterRepliesStopOnlyOnRefusal) {
    AtStep0 rig(1, 1);
    rig.GoTo(3);
    rig.Rc().results = {-1};
    EXPECT_TRUE(rig.Answer());
    EXPECT_EQ(3, rig.Step());
    rig.Rc().results = {99};
    EXPECT_TRUE(rig.Answer());
    EXPECT_EQ("PMBusPower:ProcotolError 1 parse 40_46 overflow memory boundary",
              rig.controller->logs.at(0).text);
    EXPECT_EQ(9, rig.Step());
    rig.Rc().results = {-1};
    EXPECT_TRUE(rig.Answer());
    EXPECT_EQ(9, rig.Step());
    rig.Rc().results = {217};  // short of a 277-byte reply, or beyond: accepted
    EXPECT_FALSE(rig.Answer());
    EXPECT_EQ(0, rig.Step());
}

TEST(Dispatch, UnknownStepsAreNotHandled) {
    AtStep0 rig(1, 1);
    rig.power->SetStep(12);
    EXPECT_TRUE(rig.Answer());
    EXPECT_EQ(12, rig.Step());
    EXPECT_EQ(0u, rig.Sent());
}

// Replies whose INFO is too short for the bytes the handler reads itself are
// refused like a reply that fails its first check; nothing is read past L.
TEST(Dispatch, ShortRepliesAreRefusedWithoutReadingPastTheirLength) {
    AtStep0 rig(1, 1);
    EXPECT_FALSE(rig.Feed(0x40, Hex("00")));
    EXPECT_FALSE(rig.Feed(0x40, {}));
    EXPECT_EQ(0, rig.Step());
    for (int step : {2, 7, 8}) {
        AtStep0 at(1, 1);
        at.GoTo(step);
        const size_t calls = at.Ac(0).calls.size() + at.Dc(0).calls.size() + at.Rc().calls.size();
        EXPECT_TRUE(at.Feed(PowerRig::Cid1For(step), Hex("00")));
        EXPECT_EQ(step, at.Step());
        EXPECT_EQ(calls, at.Ac(0).calls.size() + at.Dc(0).calls.size() + at.Rc().calls.size());
    }
}

TEST(Dispatch, ReplyWhoseLengthClaimsMoreThanItCarriesNeverReachesTheDevice) {
    AtStep0 rig(1, 1);
    Bytes reply = Reply(0x40, rig.InfoFor(0));
    reply[4] = 0xFE;  // LENID far beyond the bytes handed over
    EXPECT_FALSE(rig.power->HandleReply(reply.data(), reply.size()));
    EXPECT_TRUE(rig.Ac(0).calls.empty());
}
