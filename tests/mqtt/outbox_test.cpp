// The outbox: order, acknowledgement, the bound and what it gives up first,
// and what a restart finds.
#include <gtest/gtest.h>
#include <unistd.h>

#include "ScratchDir.h"
#include "outbox.h"

namespace {
mqtt::Message Msg(mqtt::Kind kind, const std::string& payload) {
    return {kind, "trm27k/north/x", payload, kind != mqtt::Kind::Alarm};
}

std::vector<std::string> Payloads(mqtt::Outbox& box) {
    std::vector<std::string> out;
    for (const auto& row : box.Pending(0, 100)) out.push_back(row.message.payload);
    return out;
}
}  // namespace

TEST(Outbox, KeepsOrderDropsStatesFirstAndSurvivesARestart) {
    const testing_support::ScratchDir scratch("outbox");
    const std::string db = scratch.Path() + "/outbox.db";
    std::string error;
    {
        mqtt::Outbox box;
        ASSERT_TRUE(box.Open(db, 39, error)) << error;
        ASSERT_TRUE(box.Append({Msg(mqtt::Kind::State, "state-1-"), Msg(mqtt::Kind::Alarm, "raise-1-")}, 1));
        ASSERT_TRUE(box.Append({Msg(mqtt::Kind::State, "state-2-"), Msg(mqtt::Kind::Alarms, "alarms-2")}, 2));
        EXPECT_EQ((std::vector<std::string>{"state-1-", "raise-1-", "state-2-", "alarms-2"}), Payloads(box));
        // 8 more bytes pass the bound of 39: the oldest state goes, alarms stay.
        ASSERT_TRUE(box.Append({Msg(mqtt::Kind::Alarm, "clear-3-")}, 3));
        EXPECT_EQ((std::vector<std::string>{"raise-1-", "state-2-", "alarms-2", "clear-3-"}), Payloads(box));
        // Past every state, the active-alarm lists go before raises and clears.
        ASSERT_TRUE(box.Append({Msg(mqtt::Kind::Alarm, "raise-4-"), Msg(mqtt::Kind::Alarm, "clear-4-")}, 4));
        EXPECT_EQ((std::vector<std::string>{"raise-1-", "clear-3-", "raise-4-", "clear-4-"}), Payloads(box));
        EXPECT_EQ((std::array<uint64_t, 3>{2, 1, 0}), box.Dropped()) << "by kind: states, lists, alarms";
        const auto rows = box.Pending(0, 2);
        ASSERT_EQ(2u, rows.size());
        box.Remove({rows[0].id});
        box.Remove({rows[0].id, rows[0].id});  // a duplicate acknowledgement changes nothing
        EXPECT_EQ(3u, box.Count());
        EXPECT_EQ(2u, box.Pending(rows[1].id, 100).size());
    }
    mqtt::Outbox again;
    ASSERT_TRUE(again.Open(db, 1 << 20, error)) << error;
    EXPECT_EQ((std::vector<std::string>{"clear-3-", "raise-4-", "clear-4-"}), Payloads(again));
    EXPECT_EQ(24u, again.Bytes());
    EXPECT_EQ(4u, again.LastSeq());
}
