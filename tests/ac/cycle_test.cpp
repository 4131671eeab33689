// End of a poll cycle in the AC child: image, publication, rules, work item.
#include <gtest/gtest.h>

#include <set>

#include "AcTestKit.h"

using namespace testing_support;

namespace {
Json::Value Parse(const std::string& text) {
    Json::Value v;
    Json::Reader().parse(text, v);
    return v;
}
const rule_value* Find(const std::vector<rule_value>& rules, const std::string& key,
                       const std::string& detailStart = "") {
    for (const auto& r : rules) {
        if (r.key == key && r.detail.compare(0, detailStart.size(), detailStart) == 0) return &r;
    }
    return nullptr;
}
std::vector<std::string> ActiveKeys(const std::vector<rule_value>& rules) {
    std::vector<std::string> keys;
    for (const auto& r : rules) if (r.active) keys.push_back(r.key);
    return keys;
}
}  // namespace

TEST(AcCycle, TwoChannelsMakeThirtyOneRulesNumberedInOrder) {
    BoundAc b;
    ASSERT_EQ(287, b.Feed41(AcAnalogBlock(2)));
    b.ac->RoundDone();
    ASSERT_EQ(1u, b.controller->batches.size());
    const auto& rules = b.controller->batches[0].rules;
    ASSERT_EQ(31u, rules.size());
    for (size_t i = 0; i < rules.size(); ++i) {
        EXPECT_EQ(static_cast<int>(i + 1), rules[i].sequence);
        EXPECT_EQ(0, rules[i].active);
    }
    EXPECT_EQ("AC_0", rules[0].key);
    EXPECT_EQ("交流屏1输入线/相电压AB/A", rules[0].detail);
    EXPECT_EQ("AC_10", rules[10].key);
    EXPECT_EQ("AC_0", rules[11].key);
    EXPECT_EQ("交流屏2频率", rules[14].detail);
    EXPECT_EQ("AC_12", rules[22].key);
    EXPECT_EQ("AC_20", rules[30].key);
    std::set<std::string> keys;
    for (const auto& r : rules) keys.insert(r.key);
    EXPECT_EQ(0u, keys.count("AC_11"));
    EXPECT_EQ(20u, keys.size());
}

TEST(AcCycle, EachStateValueRaisesExactlyItsRow) {
    struct Case { uint8_t states[4]; uint8_t currents[3]; std::vector<std::string> active; };
    const Case cases[] = {
        {{0, 0, 2, 0}, {0, 0, 0}, {"AC_6"}},
        {{0, 0, 3, 0}, {0, 0, 0}, {"AC_10"}},
        {{1, 0, 0, 1}, {0, 0, 0}, {"AC_0", "AC_3"}},
        {{0, 0, 0, 2}, {0, 0, 0}, {"AC_7"}},
        {{0, 0, 0, 3}, {0, 0, 0}, {}},  // no row for a missing frequency
        {{4, 9, 255, 0}, {0, 0, 0}, {}},
        {{0, 0, 0, 0}, {0, 2, 0}, {"AC_16"}},
        {{0, 0, 0, 0}, {3, 0, 1}, {"AC_14", "AC_18"}},
    };
    for (const auto& c : cases) {
        BoundAc b;
        ASSERT_EQ(150, b.Feed41(AcAnalogBlock(1)));
        const Bytes alarms = AcAlarmBlock(1, c.states, c.currents);
        ASSERT_EQ(static_cast<int>(alarms.size()), b.Feed44(alarms));
        b.ac->RoundDone();
        EXPECT_EQ(c.active, ActiveKeys(b.controller->batches.at(0).rules));
    }
}

TEST(AcCycle, ScreenRowsCarryTheSpecificTextAsName) {
    BoundAc b;
    const uint8_t states[4] = {0, 0, 0, 0};
    const uint8_t currents[3] = {0, 2, 0};
    b.Feed44(AcAlarmBlock(0, states, currents));
    b.ac->RoundDone();
    const rule_value* r = Find(b.controller->batches[0].rules, "AC_16");
    ASSERT_NE(nullptr, r);
    EXPECT_EQ("B相输入电流高于上限", r->name);
    EXPECT_EQ("其他告警", r->detail);
    EXPECT_EQ("06029", r->code);
    EXPECT_EQ(3, r->level);
    EXPECT_EQ(1, r->active);
}

TEST(AcCycle, ImageFollowsTheChannelCountAndCarriesIdAndStamp) {
    BoundAc b(11);
    b.Feed41(AcAnalogBlock(0));
    b.ac->RoundDone();
    ASSERT_EQ(1u, b.controller->records.size());
    EXPECT_EQ(5175, b.controller->records[0].type);
    EXPECT_EQ(42u, b.controller->records[0].image.size());
    EXPECT_EQ(9u, b.controller->batches[0].rules.size());
    EXPECT_EQ(9, b.controller->batches[0].rules.back().sequence);
    ASSERT_EQ(287, b.Feed41(AcAnalogBlock(2)));
    b.ac->RoundDone();
    const Bytes& image = b.controller->records[1].image;
    ASSERT_EQ(362u, image.size());
    EXPECT_EQ((Bytes{0x0B, 0, 0, 0}), Bytes(image.begin(), image.begin() + 4));
    EXPECT_EQ(221.0f, FloatAt(image.data(), 42 + 160));
    const ttime_bytes now = get_ttime(host_local_now());
    EXPECT_EQ(now[0], image[35]);  // year, low byte
    EXPECT_EQ(now[2], image[37]);  // month
    EXPECT_TRUE(b.ac->DataReady());
    EXPECT_EQ(image, b.controller->history.at(1).image);
}

TEST(AcCycle, PendingListIsEmptiedAndKeepsItsCapacity) {
    BoundAc b;
    b.Feed41(AcAnalogBlock(2));
    b.ac->RoundDone();
    EXPECT_TRUE(b.ac->PendingRules().empty());
    EXPECT_GE(b.ac->PendingRules().capacity(), 31u);
}

// The host may run a work item after the next cycle rewrote the image buffer;
// the history must still get the image of the item's own cycle.
TEST(AcCycle, HeldWorkItemSavesTheImageOfItsOwnCycle) {
    BoundAc b;
    b.controller->workMode = WorkMode::Hold;
    b.Feed41(AcAnalogBlock(1));
    b.ac->RoundDone();
    const Bytes first = b.controller->records[0].image;
    Bytes changed{1};
    PutAcChannel(changed, 99.0f, 98.0f, 97.0f, 60.0f);
    PutF(changed, 0); PutF(changed, 0); PutF(changed, 0);
    ASSERT_EQ(150, b.Feed41(changed));
    b.ac->RoundDone();
    ASSERT_EQ(2u, b.controller->held.size());
    b.controller->batchResult = true;
    b.controller->RunHeld();
    ASSERT_EQ(2u, b.controller->history.size());
    EXPECT_EQ(first, b.controller->history[0].image);
    EXPECT_EQ(b.controller->records[1].image, b.controller->history[1].image);
    EXPECT_NE(first, b.controller->history[1].image);
    EXPECT_TRUE(b.ac->ThresholdResult());
}

TEST(AcSetting, ThresholdsComeFromAppSettingAsTextOrNumber) {
    BoundAc texts(11, Parse(R"({"appSetting": {"diff_v": "15.5", "diff_i": 3}})"));
    EXPECT_EQ(15.5f, texts.ac->diff_v);
    EXPECT_EQ(3.0f, texts.ac->diff_i);
    BoundAc junk(11, Parse(R"({"appSetting": {"diff_v": "abc", "diff_i": null}})"));
    EXPECT_EQ(0.0f, junk.ac->diff_v);
    EXPECT_EQ(20.0f, junk.ac->diff_i);
    BoundAc array(11, Parse(R"({"appSetting": [1, 2]})"));
    EXPECT_EQ(20.0f, array.ac->diff_v);
    EXPECT_EQ(11u, Val(array.ac->tele.id));
    EXPECT_EQ(11u, array.ac->DataId());
}

TEST(AcSetting, ThresholdWithoutTextFormThrows) {
    EXPECT_ANY_THROW(BoundAc(11, Parse(R"({"appSetting": {"diff_v": [1]}})")));
}

// Full texts of a row of every level and code pair, written out from the
// description rather than taken from the table; channel rows on the second
// channel, whose position the detail carries.
TEST(AcCycle, ARowOfEveryLevelAndCodeCarriesItsFullTexts) {
    struct Expected {
        char quantity;  // a, b, c, f of channel 2; x, z: the phase A and C currents
        uint8_t state;
        const char* key;
        int level;
        const char* code;
        const char* name;
        const char* detail;
    };
    const Expected rows[] = {
        {'b', 1, "AC_1", 3, "06015", "交流输入电压过低告警", "交流屏2输入线/相电压BC/B"},
        {'f', 1, "AC_3", 3, "06019", "交流输入频率过低告警", "交流屏2频率"},
        {'c', 2, "AC_6", 2, "06014", "交流输入电压过高告警", "交流屏2输入线/相电压CA/C"},
        {'f', 2, "AC_7", 2, "06018", "交流输入频率过高告警", "交流屏2频率"},
        {'a', 3, "AC_8", 2, "06017", "交流输入缺相告警", "交流屏2输入线/相电压AB/A"},
        {'x', 1, "AC_12", 3, "06029", "A相输入电流低于下限", "其他告警"},
        {'z', 3, "AC_20", 3, "06029", "C相输入电流缺项", "其他告警"},
    };
    for (const auto& e : rows) {
        BoundAc b;
        ASSERT_EQ(287, b.Feed41(AcAnalogBlock(2)));
        auto& ch = b.ac->channels[1];
        switch (e.quantity) {
            case 'a': ch.a_alert = e.state; break;
            case 'b': ch.b_alert = e.state; break;
            case 'c': ch.c_alert = e.state; break;
            case 'f': ch.f_alert = e.state; break;
            case 'x': b.ac->tele.ia_alert = e.state; break;
            default: b.ac->tele.ic_alert = e.state; break;
        }
        b.ac->RoundDone();
        std::vector<const rule_value*> active;
        for (const auto& r : b.controller->batches.at(0).rules) {
            if (r.active) active.push_back(&r);
        }
        ASSERT_EQ(1u, active.size()) << e.key;
        EXPECT_EQ(e.key, active[0]->key);
        EXPECT_EQ(e.level, active[0]->level) << e.key;
        EXPECT_EQ(e.code, active[0]->code) << e.key;
        EXPECT_EQ(e.name, active[0]->name) << e.key;
        EXPECT_EQ(e.detail, active[0]->detail) << e.key;
    }
}
