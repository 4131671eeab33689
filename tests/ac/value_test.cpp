// The AC value query: readiness, staleness, screen keys and channel keys.
#include <gtest/gtest.h>

#include <random>
#include <regex>

#include "AcTestKit.h"
#include "ac_channel_key.h"

using namespace testing_support;
using boost::posix_time::seconds;

namespace {
std::string Failure(const TRM27KAC& ac, const std::string& key) {
    try {
        ac.Get_Value(0, key);
    } catch (const std::out_of_range& e) {
        return e.what();
    }
    return "answered";
}

struct ReadyAc : BoundAc {
    ReadyAc() {
        Bytes block{2};
        PutAcChannel(block, 230.5f, 231.0f, 232.0f, 50.0f);
        PutAcChannel(block, 1.0f, 2.0f, 3.0f, 49.5f);
        PutF(block, 10.0f); PutF(block, 11.0f); PutF(block, 12.0f);
        Feed41(block);
        const uint8_t states[4] = {0, 0, 0, 0};
        const uint8_t currents[3] = {0, 0, 3};
        Feed44(AcAlarmBlock(2, states, currents));
        ac->RoundDone();
    }
};
}  // namespace

TEST(AcValue, ScreenKeysAndTheirAlarmStates) {
    ReadyAc b;
    EXPECT_EQ(10.0f, b.ac->Get_Value(0, "ia"));
    EXPECT_EQ(12.0f, b.ac->Get_Value(7, "ic"));
    EXPECT_EQ(3.0f, b.ac->Get_Value(0, "ic_alert"));
    EXPECT_EQ(0.0f, b.ac->Get_Value(0, "ia_alert"));
    EXPECT_EQ("数据未提供", Failure(*b.ac, "IA"));
}

TEST(AcValue, ChannelKeysAreSearchedNotMatchedWhole) {
    ReadyAc b;
    EXPECT_EQ(230.5f, b.ac->Get_Value(0, "channel_0_a"));
    EXPECT_EQ(49.5f, b.ac->Get_Value(0, "channel_1_f"));
    EXPECT_EQ(230.5f, b.ac->Get_Value(0, "channel_0_abc"));
    EXPECT_EQ(50.0f, b.ac->Get_Value(0, "channel_0_frequency"));
    EXPECT_EQ(2.0f, b.ac->Get_Value(0, "xchannel_1_b"));
    EXPECT_EQ(2.0f, b.ac->Get_Value(0, "channel_1_b_total"));
    EXPECT_EQ(3.0f, b.ac->Get_Value(0, "channel_01_c"));
}

TEST(AcValue, BadChannelNumbersAndLetters) {
    ReadyAc b;
    EXPECT_EQ("数据未提供", Failure(*b.ac, "channel_0_x"));
    EXPECT_EQ("通道参数越界", Failure(*b.ac, "channel_2_a"));
    EXPECT_EQ("通道参数越界", Failure(*b.ac, "channel_99999999999_a"));
    EXPECT_EQ("通道参数越界", Failure(*b.ac, "channel_2147483648_a"));
    EXPECT_EQ("通道参数越界", Failure(*b.ac, "channel_5_x"));
    EXPECT_EQ("数据未提供", Failure(*b.ac, "channel__a"));
    EXPECT_EQ("数据未提供", Failure(*b.ac, "channel_a"));
    EXPECT_EQ("数据未提供", Failure(*b.ac, "channel_1_"));
    EXPECT_EQ("数据未提供", Failure(*b.ac, "channel_1_\n"));
    EXPECT_EQ("数据未提供", Failure(*b.ac, ""));
}

TEST(AcValue, ReadinessAndTheSixtySecondLimit) {
    BoundAc fresh;
    EXPECT_EQ("数据未就绪", Failure(*fresh.ac, "ia"));
    EXPECT_EQ("数据未就绪", Failure(*fresh.ac, "nothing"));
    ReadyAc b;
    b.ac->SetUpdateTime(host_local_now() - seconds(60));
    EXPECT_EQ(10.0f, b.ac->Get_Value(0, "ia"));
    b.ac->SetUpdateTime(host_local_now() - seconds(61));
    EXPECT_EQ("数据已超时", Failure(*b.ac, "ia"));
    EXPECT_EQ("数据已超时", Failure(*b.ac, "names nothing"));
    b.ac->SetUpdateTime(host_local_now() + seconds(3600));  // clock set back
    EXPECT_EQ(10.0f, b.ac->Get_Value(0, "ia"));
}

TEST(AcValue, NoChannelsMakesEveryChannelKeyOutOfRange) {
    BoundAc b;
    b.Feed41(AcAnalogBlock(0));
    b.ac->RoundDone();
    EXPECT_EQ("通道参数越界", Failure(*b.ac, "channel_0_a"));
}

// The matcher must agree with an ECMAScript search for channel_(\d+)_(.+?)
// on every key; keys are drawn from an alphabet that provokes its edge cases.
TEST(AcChannelKey, AgreesWithTheRegularExpressionOnGeneratedKeys) {
    const std::regex pattern("channel_(\\d+)_(.+?)");
    const std::vector<std::string> pieces = {"channel_", "channel", "_", "0", "7", "12",
                                             "99999999999", "a", "f", "x", "\n", "\r", "\t",
                                             " ", "c", "通", "_a", "ch"};
    std::mt19937 rng(20261208);
    for (int i = 0; i < 20000; ++i) {
        std::string key;
        const int parts = static_cast<int>(rng() % 7);
        for (int p = 0; p < parts; ++p) key += pieces[rng() % pieces.size()];
        std::smatch m;
        const bool expected = std::regex_search(key, m, pattern);
        const ac::ChannelKey got = ac::FindChannelKey(key);
        ASSERT_EQ(expected, got.found) << key;
        if (!expected) continue;
        ASSERT_EQ(m[2].str(), std::string(1, got.letter)) << key;
        const std::string digits = m[1].str();
        const bool large = digits.size() > 10 || std::stoll(digits) > INT_MAX;
        ASSERT_EQ(large, got.tooLarge) << key;
        if (!large) {
            ASSERT_EQ(std::stoi(digits), got.channel) << key;
        }
    }
}
