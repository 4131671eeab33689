// Fault injection: what each fault does to a reply, determinism for a seed,
// and the rates over many replies.
#include <gtest/gtest.h>

#include <array>

#include "SimTestKit.h"

using namespace sim_testing;

namespace {

// Every command of the poll in turn, `count` replies' worth.
std::vector<sim::OutgoingReply> Poll(sim::Simulator& simulator, size_t count) {
    std::vector<sim::OutgoingReply> all;
    for (size_t k = 0; k < count; ++k) {
        const sim::CommandRow& row = sim::kCommands[k % sim::kCommands.size()];
        for (auto& r : Ask(simulator, Command(row.cid1, row.cid2))) all.push_back(std::move(r));
    }
    return all;
}

sim::FaultPlan Mixed(uint32_t seed) {
    sim::FaultPlan plan;
    plan.seed = seed;
    plan.drop = plan.corrupt = plan.truncate = plan.delay = plan.wrongRtn = plan.wrongCount = 0.2;
    plan.delayMs = 40;
    return plan;
}

bool SameReplies(const std::vector<sim::OutgoingReply>& a,
                 const std::vector<sim::OutgoingReply>& b) {
    if (a.size() != b.size()) return false;
    for (size_t k = 0; k < a.size(); ++k) {
        if (a[k].bytes != b[k].bytes || a[k].delayMs != b[k].delayMs) return false;
    }
    return true;
}

}  // namespace

TEST(FaultDeterminism, TheSameSeedAndCommandsGiveTheSameRepliesAnotherSeedOthers) {
    sim::Simulator first(Mixed(7)), second(Mixed(7)), other(Mixed(8));
    const auto a = Poll(first, 300), b = Poll(second, 300), c = Poll(other, 300);
    EXPECT_TRUE(SameReplies(a, b));
    EXPECT_FALSE(SameReplies(a, c));
    EXPECT_EQ(sim::StatsJson(first.Stats()), sim::StatsJson(second.Stats()));
}

TEST(FaultDeterminism, EveryReplyDrawsTheSameWhateverTheCommand) {
    // Known and unknown commands alike take one draw each, so the faults
    // follow the sequence of replies one for one.
    sim::FaultPlan plan;
    plan.seed = 5;
    plan.drop = 0.3;
    sim::Simulator known(plan), unknown(plan);
    std::vector<bool> knownAnswered, unknownAnswered;
    for (int k = 0; k < 200; ++k) {
        knownAnswered.push_back(!Ask(known, Command(0x41, 0x41)).empty());
        unknownAnswered.push_back(!Ask(unknown, Command(0x41, 0x4F)).empty());
    }
    EXPECT_EQ(knownAnswered, unknownAnswered);
    EXPECT_GT(known.Stats().dropped, 30u);
}

struct RateRow {
    const char* name;
    double sim::FaultPlan::*probability;
    uint64_t sim::SimStats::*counter;
};

constexpr std::array<RateRow, 6> kRates = {{
    {"drop", &sim::FaultPlan::drop, &sim::SimStats::dropped},
    {"corrupt", &sim::FaultPlan::corrupt, &sim::SimStats::corrupted},
    {"truncate", &sim::FaultPlan::truncate, &sim::SimStats::truncated},
    {"delay", &sim::FaultPlan::delay, &sim::SimStats::delayed},
    {"wrong rtn", &sim::FaultPlan::wrongRtn, &sim::SimStats::wrongRtn},
    {"wrong count", &sim::FaultPlan::wrongCount, &sim::SimStats::wrongCount},
}};

TEST(FaultRates, EachFaultComesAtRoughlyItsProbabilityAndNeverAtZero) {
    constexpr size_t kReplies = 2200;  // 200 full polls
    for (const RateRow& row : kRates) {
        sim::FaultPlan plan;
        plan.seed = 11;
        plan.*row.probability = 0.25;
        sim::Simulator simulator(plan);
        Poll(simulator, kReplies);
        const sim::SimStats stats = simulator.Stats();
        // Only 8 of the 11 replies carry a unit count.
        const double base =
            row.counter == &sim::SimStats::wrongCount ? kReplies * 8.0 / 11 : kReplies;
        const double rate = static_cast<double>(stats.*row.counter) / base;
        EXPECT_GT(rate, 0.21) << row.name;
        EXPECT_LT(rate, 0.29) << row.name;
        EXPECT_EQ(kReplies - stats.dropped, stats.replies) << row.name;
        uint64_t others = 0;
        for (const RateRow& o : kRates) others += &o == &row ? 0 : stats.*o.counter;
        EXPECT_EQ(0u, others) << row.name;
    }
}

TEST(FaultEffects, CorruptedRepliesFailOnlyTheirChecksum) {
    sim::FaultPlan plan;
    plan.corrupt = 1.0;
    sim::Simulator simulator(plan);
    for (const auto& reply : Poll(simulator, 110)) {
        host::DecodedFrame frame;
        std::vector<host::FrameError> errors;
        EXPECT_EQ(0, DecodeAll(reply.bytes, frame, &errors));
        EXPECT_EQ(std::vector<host::FrameError>{host::FrameError::Checksum}, errors);
    }
}

TEST(FaultEffects, TruncatedRepliesNeverDecodeAndHalfKeepTheirCr) {
    sim::FaultPlan plan;
    plan.truncate = 1.0;
    sim::Simulator simulator(plan);
    sim::Simulator clean;
    const auto cut = Poll(simulator, 440);
    const auto whole = Poll(clean, 440);
    ASSERT_EQ(whole.size(), cut.size());
    size_t withCr = 0;
    for (size_t k = 0; k < cut.size(); ++k) {
        host::DecodedFrame frame;
        EXPECT_EQ(0, DecodeAll(cut[k].bytes, frame)) << k;
        const bool cr = cut[k].bytes.back() == '\r';
        withCr += cr;
        const std::string kept = cut[k].bytes.substr(0, cut[k].bytes.size() - (cr ? 1 : 0));
        EXPECT_LT(kept.size(), whole[k].bytes.size() - 1);
        EXPECT_EQ(0u, whole[k].bytes.rfind(kept, 0)) << "a cut keeps the start of the frame";
    }
    EXPECT_GT(withCr, cut.size() / 3);
    EXPECT_LT(withCr, cut.size() * 2 / 3);
}

TEST(FaultEffects, WrongRtnRepliesCarryTheCodeAndNoData) {
    sim::FaultPlan plan;
    plan.wrongRtn = 1.0;
    sim::Simulator simulator(plan);
    for (const auto& reply : Poll(simulator, 11)) {
        host::DecodedFrame frame;
        ASSERT_EQ(1, DecodeAll(reply.bytes, frame));
        EXPECT_EQ(0x04, frame.cid2);
        EXPECT_TRUE(frame.info.empty());
    }
}

TEST(FaultEffects, WrongCountMovesOnlyTheUnitCountByOne) {
    sim::FaultPlan plan;
    plan.wrongCount = 1.0;
    sim::Simulator simulator(plan);
    const sim::Scenario s = simulator.GetScenario();
    for (const sim::CommandRow& row : sim::kCommands) {
        bool known = false;
        const Bytes clean = sim::BuildInfo(s, row.cid1, row.cid2, known);
        host::DecodedFrame frame;
        ASSERT_EQ(1, DecodeAll(Ask(simulator, Command(row.cid1, row.cid2)).at(0).bytes, frame));
        ASSERT_EQ(clean.size(), frame.info.size()) << row.name;
        for (size_t k = 0; k < clean.size(); ++k) {
            const int diff = frame.info[k] - clean[k];
            if (static_cast<int>(k) == row.countOffset) {
                const size_t units = row.cid1 == 0x40   ? s.ac.size()
                                     : row.cid1 == 0x41 ? s.modules.size()
                                                        : s.dc.size();
                EXPECT_EQ(units, clean[k]) << row.name << ": the byte moved is the unit count";
                EXPECT_TRUE(diff == 1 || diff == -1) << row.name;
            } else {
                ASSERT_EQ(0, diff) << row.name << " byte " << k;
            }
        }
    }
    EXPECT_EQ(8u, simulator.Stats().wrongCount);
}

TEST(FaultEffects, DroppedRepliesAreNotSentAndDelayedOnesCarryTheirDelay) {
    sim::FaultPlan plan;
    plan.drop = 1.0;
    sim::Simulator dropping(plan);
    EXPECT_TRUE(Poll(dropping, 11).empty());
    EXPECT_EQ(11u, dropping.Stats().dropped);
    EXPECT_EQ(11u, dropping.Stats().commands);
    EXPECT_EQ(0u, dropping.Stats().bytesSent);
    plan = sim::FaultPlan();
    plan.delay = 1.0;
    plan.delayMs = 250;
    sim::Simulator delaying(plan);
    for (const auto& reply : Poll(delaying, 11)) EXPECT_EQ(250, reply.delayMs);
    // A duplicate is the same whole frame again, in the same write.
    plan = sim::FaultPlan();
    plan.duplicate = 1.0;
    sim::Simulator repeating(plan);
    sim::Simulator faultless;
    const auto clean = Poll(faultless, 11);
    const auto twice = Poll(repeating, 11);
    ASSERT_EQ(clean.size(), twice.size());
    for (size_t k = 0; k < clean.size(); ++k) EXPECT_EQ(clean[k].bytes + clean[k].bytes, twice[k].bytes);
    EXPECT_EQ(11u, repeating.Stats().duplicated);
}

TEST(FaultHelpers, TheCountStaysAByteAndTheCutStaysInsideTheFrame) {
    Bytes info{0, 255, 7};
    EXPECT_TRUE(sim::ShiftCount(info, 0, false));
    EXPECT_TRUE(sim::ShiftCount(info, 1, true));
    EXPECT_TRUE(sim::ShiftCount(info, 2, false));
    EXPECT_EQ((Bytes{1, 254, 6}), info);
    EXPECT_FALSE(sim::ShiftCount(info, 3, true));
    EXPECT_FALSE(sim::ShiftCount(info, -1, true));
    const std::string frame = Command(0x40, 0x51);
    for (double at : {0.0, 0.5, 0.999999}) {
        std::string cut = frame;
        sim::TruncateFrame(cut, at, false);
        EXPECT_GE(cut.size(), 1u);
        EXPECT_LE(cut.size(), frame.size() - 2);
        EXPECT_EQ('~', cut[0]);
    }
}
