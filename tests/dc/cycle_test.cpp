// The DC child's configuration and end of cycle: thresholds from appSetting,
// the published record, the voltage and fuse rules with their sequence
// numbers, and the work item with its own copy of the record.
#include <gtest/gtest.h>

#include "DcTestKit.h"

using namespace testing_support;

namespace {
Json::Value Parse(const std::string& text) {
    Json::Value v;
    Json::Reader().parse(text, v);
    return v;
}
std::vector<std::string> ActiveKeys(const std::vector<rule_value>& rules) {
    std::vector<std::string> keys;
    for (const auto& r : rules) {
        if (r.active) keys.push_back(r.key);
    }
    return keys;
}
// Feeds a 42/44 block; the analog parser is not needed for the rules.
void Alarms(BoundDc& b, uint8_t vAlarm, const Bytes& fuses, const Bytes& user) {
    const Bytes block = DcAlarmBlock(vAlarm, fuses, user);
    ASSERT_EQ(static_cast<int>(block.size()), b.Feed44(block));
}
const std::vector<rule_value>& Rules(const BoundDc& b) {
    return b.controller->batches.at(0).rules;
}
}  // namespace

TEST(DcSetting, DefaultsWithoutAUsableAppSetting) {
    for (const char* entry : {R"({})", R"({"appSetting": [0.5, 1]})", R"({"appSetting": 7})",
                              R"({"appSetting": null})", R"({"appSetting": "diff_v"})",
                              R"({"diff_v": 3, "diff_i": 4})", R"({"appSetting": {}})"}) {
        BoundDc b(21, Parse(entry));
        EXPECT_EQ(0.1f, b.dc->diff_v) << entry;
        EXPECT_EQ(20.0f, b.dc->diff_i) << entry;
    }
}

TEST(DcSetting, ThresholdsAsTextOrNumber) {
    BoundDc text(21, Parse(R"({"appSetting": {"diff_v": "0.5", "diff_i": "12abc"}})"));
    EXPECT_EQ(0.5f, text.dc->diff_v);
    EXPECT_EQ(12.0f, text.dc->diff_i);
    BoundDc number(21, Parse(R"({"appSetting": {"diff_v": 0.5, "diff_i": 7}})"));
    EXPECT_EQ(0.5f, number.dc->diff_v);
    EXPECT_EQ(7.0f, number.dc->diff_i);
    BoundDc junk(21, Parse(R"({"appSetting": {"diff_v": true, "diff_i": "abc"}})"));
    EXPECT_EQ(0.0f, junk.dc->diff_v);
    EXPECT_EQ(0.0f, junk.dc->diff_i);
    BoundDc one(21, Parse(R"({"appSetting": {"diff_i": 2.5, "diff_v": null}})"));
    EXPECT_EQ(0.1f, one.dc->diff_v);
    EXPECT_EQ(2.5f, one.dc->diff_i);
}

TEST(DcSetting, ThresholdWithoutTextFormThrows) {
    EXPECT_ANY_THROW(BoundDc(21, Parse(R"({"appSetting": {"diff_v": [1]}})")));
    EXPECT_ANY_THROW(BoundDc(21, Parse(R"({"appSetting": {"diff_i": {"x": 1}}})")));
}

TEST(DcSetting, InitVStoresTheIdAndBindsTheController) {
    auto controller = std::make_shared<RecordingController>();
    auto parent = std::make_shared<ParentDevice>();
    parent->Init(controller, 1, Json::Value());
    auto dc = std::make_shared<TRM27KDC>();
    EXPECT_EQ(0, dc->InitV(parent.get(), 0x01020304u, Json::Value(Json::objectValue)));
    EXPECT_EQ(0x01020304u, Val(dc->tele.id));
    const Bytes record = RecordBytes(dc->tele);
    EXPECT_EQ((Bytes{4, 3, 2, 1}), Bytes(record.begin(), record.begin() + 4));
    EXPECT_EQ(0x01020304u, dc->DataId());
    EXPECT_EQ(parent.get(), dc->Parent());
    EXPECT_EQ(controller, dc->Controller());
}

TEST(DcCycle, PublishesTheStampedRecordAndBecomesReady) {
    BoundDc b;
    ::testing::internal::CaptureStdout();
    ASSERT_EQ(11, b.Feed41(DcAnalogBlock(48.5f, 9.0f, {}, {}, {})));
    ::testing::internal::GetCapturedStdout();
    EXPECT_FALSE(b.dc->DataReady());
    b.dc->RoundDone();
    const ttime_bytes now = get_ttime(host_local_now());
    ASSERT_EQ(1u, b.controller->records.size());
    const auto& record = b.controller->records[0];
    EXPECT_EQ(5176, record.type);
    EXPECT_EQ(21u, record.dataId);
    EXPECT_EQ("trm27k-dc", record.deviceType);
    ASSERT_EQ(450u, record.image.size());
    EXPECT_EQ(RecordBytes(b.dc->tele), record.image);
    EXPECT_EQ((Bytes{21, 0, 0, 0}), Bytes(record.image.begin(), record.image.begin() + 4));
    EXPECT_EQ(48.5f, FloatAt(record.image.data(), 4));
    EXPECT_EQ(now[0], record.image[443]);  // year, low byte
    EXPECT_EQ(now[1], record.image[444]);
    EXPECT_EQ(now[2], record.image[445]);  // month
    EXPECT_EQ(now[3], record.image[446]);  // day
    EXPECT_TRUE(b.dc->DataReady());
    EXPECT_LE(host_seconds_since(b.dc->UpdateTime()), 1);
    EXPECT_EQ(48.5f, b.dc->last_v);
    EXPECT_EQ(9.0f, b.dc->last_i);
    ASSERT_EQ(1u, b.controller->history.size());
    EXPECT_EQ(record.image, b.controller->history[0].image);
}

// Nothing decoded: the all-zero record is published and checked all the same.
TEST(DcCycle, FirstCycleWithoutRepliesStillPublishesAndAnswers) {
    BoundDc b;
    b.dc->RoundDone();
    ASSERT_EQ(1u, b.controller->records.size());
    Bytes expected(450, 0);
    expected[0] = 21;
    std::copy(b.dc->tele.ttime, b.dc->tele.ttime + 7, expected.begin() + 443);
    EXPECT_EQ(expected, b.controller->records[0].image);
    EXPECT_EQ(0.0f, b.dc->Get_Value(0, "v"));
    ASSERT_EQ(1u, b.controller->batches.size());
    ASSERT_EQ(2u, Rules(b).size());  // no fuse group, no catalogue
    EXPECT_TRUE(ActiveKeys(Rules(b)).empty());
}

TEST(DcCycle, VoltageRulesFollowTheAlarmState) {
    const struct {
        uint8_t state;
        std::vector<std::string> active;
    } cases[] = {
        {0, {}}, {1, {"DC_0"}}, {2, {"DC_1"}}, {3, {}}, {0xFF, {}},
    };
    for (const auto& c : cases) {
        BoundDc b;
        Alarms(b, c.state, {}, {});
        b.dc->RoundDone();
        EXPECT_EQ(c.active, ActiveKeys(Rules(b))) << int(c.state);
    }
    BoundDc b;
    Alarms(b, 1, {}, {});
    b.dc->RoundDone();
    ASSERT_EQ(2u, Rules(b).size());
    const rule_value& low = Rules(b)[0];
    EXPECT_EQ(3, low.level);
    EXPECT_EQ("DC_0", low.key);
    EXPECT_EQ("06008", low.code);
    EXPECT_EQ("输出电压过低告警", low.name);
    EXPECT_EQ("输出电压过低告警", low.detail);
    EXPECT_EQ(1, low.sequence);
    EXPECT_EQ(21u, low.data_id);
    const rule_value& high = Rules(b)[1];
    EXPECT_EQ(3, high.level);
    EXPECT_EQ("DC_1", high.key);
    EXPECT_EQ("06009", high.code);
    EXPECT_EQ("输出电压过高告警", high.name);
    EXPECT_EQ("输出电压过高告警", high.detail);
    EXPECT_EQ(0, high.active);
    EXPECT_EQ(2, high.sequence);
}

TEST(DcCycle, SixFuseStatesMakeSixRulesUnderOneKey) {
    BoundDc b;
    Alarms(b, 0, {0, 3, 0, 0, 0, 3}, {});
    b.dc->RoundDone();
    const auto& rules = Rules(b);
    ASSERT_EQ(8u, rules.size());
    for (int k = 0; k < 6; ++k) {
        const rule_value& r = rules[2 + k];
        EXPECT_EQ(1, r.level);
        EXPECT_EQ("DC_3", r.key);
        EXPECT_EQ("06001", r.code);
        EXPECT_EQ("电池熔丝故障告警", r.name);
        EXPECT_EQ("直流" + std::to_string(k + 1) + "电池熔丝故障告警", r.detail);
        EXPECT_EQ(k == 1 || k == 5 ? 1 : 0, r.active) << k;
        EXPECT_EQ(3 + k, r.sequence);
    }
    EXPECT_EQ("直流1电池熔丝故障告警", rules[2].detail);
    for (const auto& r : rules) EXPECT_NE("DC_2", r.key);
}

TEST(DcCycle, FuseRulesOnlyForExactlySixStates) {
    for (size_t count : {0u, 1u, 5u, 7u, 255u}) {
        BoundDc b;
        Alarms(b, 0, Bytes(count, 3), {});
        b.dc->RoundDone();
        EXPECT_EQ(2u, Rules(b).size()) << count;
    }
}

// Sequence numbers restart at 1 every cycle and depend on the groups passed.
TEST(DcCycle, GroupsAndSequenceNumbersPerCycle) {
    BoundDc b;
    Alarms(b, 0, Bytes(6, 0), Bytes(151, 0));
    b.dc->RoundDone();
    Alarms(b, 0, Bytes(5, 0), Bytes(151, 0));
    b.dc->RoundDone();
    Alarms(b, 0, Bytes(6, 0), Bytes(150, 0));
    b.dc->RoundDone();
    ASSERT_EQ(3u, b.controller->batches.size());
    const size_t sizes[] = {2 + 6 + 124, 2 + 124, 2 + 6};
    for (size_t c = 0; c < 3; ++c) {
        const auto& rules = b.controller->batches[c].rules;
        ASSERT_EQ(sizes[c], rules.size()) << c;
        for (size_t k = 0; k < rules.size(); ++k) {
            EXPECT_EQ(static_cast<int>(k + 1), rules[k].sequence);
        }
    }
    EXPECT_EQ("TRM27KAC_DC_0", b.controller->batches[0].rules[8].key);
    EXPECT_EQ("TRM27KAC_DC_0", b.controller->batches[1].rules[2].key);
}

TEST(DcCycle, PendingListIsEmptiedAndKeepsItsCapacity) {
    BoundDc b;
    Alarms(b, 0, Bytes(6, 0), Bytes(151, 0));
    b.dc->RoundDone();
    EXPECT_TRUE(b.dc->PendingRules().empty());
    EXPECT_GE(b.dc->PendingRules().capacity(), 132u);
    EXPECT_EQ(1u, b.controller->batches.size());
}

TEST(DcCycle, BatchResultIsOredIntoTheFlag) {
    BoundDc b;
    b.dc->RoundDone();
    EXPECT_FALSE(b.dc->ThresholdResult());
    b.controller->batchResult = true;
    b.dc->RoundDone();
    EXPECT_TRUE(b.dc->ThresholdResult());
    b.controller->batchResult = false;
    b.dc->RoundDone();
    EXPECT_TRUE(b.dc->ThresholdResult());
}

// The host may run a work item after the next cycle rewrote the record; the
// history must still get the record of the item's own cycle.
TEST(DcCycle, HeldWorkItemSavesTheRecordOfItsOwnCycle) {
    BoundDc b;
    b.controller->workMode = WorkMode::Hold;
    Alarms(b, 1, Bytes(6, 0), {});
    b.dc->RoundDone();
    ASSERT_EQ(1u, b.controller->held.size());
    EXPECT_TRUE(b.controller->history.empty());
    EXPECT_TRUE(b.controller->batches.empty());
    const Bytes first = b.controller->records.at(0).image;
    // The next cycle's replies and completion change the record.
    Alarms(b, 2, Bytes(6, 3), Bytes(151, 0));
    ::testing::internal::CaptureStdout();
    b.Feed41(DcAnalogBlock(6, 6, 55));
    ::testing::internal::GetCapturedStdout();
    b.dc->RoundDone();
    // And a parser of the cycle after writes into it before anything runs.
    Alarms(b, 0, Bytes(2, 0), {});
    ASSERT_EQ(2u, b.controller->held.size());
    b.controller->RunHeld();
    ASSERT_EQ(2u, b.controller->history.size());
    EXPECT_EQ(first, b.controller->history[0].image);
    EXPECT_EQ(1, b.controller->history[0].image[283]);
    EXPECT_EQ(b.controller->records.at(1).image, b.controller->history[1].image);
    EXPECT_EQ(2, b.controller->history[1].image[283]);
    EXPECT_NE(RecordBytes(b.dc->tele), b.controller->history[1].image);
    ASSERT_EQ(2u, b.controller->batches.size());
    EXPECT_EQ(8u, b.controller->batches[0].rules.size());
    EXPECT_EQ((std::vector<std::string>{"DC_0"}), ActiveKeys(b.controller->batches[0].rules));
    EXPECT_EQ(132u, b.controller->batches[1].rules.size());
}

TEST(DcCycle, HeldWorkItemKeepsTheDeviceAlive) {
    BoundDc b;
    b.controller->workMode = WorkMode::Hold;
    b.dc->RoundDone();
    std::weak_ptr<TRM27KDC> weak = b.dc;
    b.dc.reset();
    ASSERT_FALSE(weak.expired());
    b.controller->RunHeld();
    EXPECT_EQ(1u, b.controller->history.size());
    EXPECT_TRUE(weak.expired());
}
