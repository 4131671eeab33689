// The DC value query and the cache image: readiness, staleness, keys, and the
// 450-byte image that LoadFromCache accepts.
#include <gtest/gtest.h>

#include "DcTestKit.h"

using namespace testing_support;
using boost::posix_time::seconds;

namespace {
std::string Failure(const TRM27KDC& dc, const std::string& key) {
    try {
        dc.Get_Value(0, key);
    } catch (const std::out_of_range& e) {
        return e.what();
    }
    return "answered";
}

// A 450-byte image with v = 53.5 and i = -7.25 and every other byte `fill`.
Bytes Image(uint8_t fill = 0x33) {
    Bytes image(450, fill);
    const float v = 53.5f, i = -7.25f;
    std::memcpy(image.data() + 4, &v, 4);
    std::memcpy(image.data() + 8, &i, 4);
    return image;
}

// Answers `key` with the update time `age` seconds back. Repeats when the
// clock ticked between setting the time and asking, which would add a second.
std::string AnswerAt(TRM27KDC& dc, long age, const std::string& key) {
    std::string result;
    for (int attempt = 0; attempt < 5; ++attempt) {
        const auto before = host_local_now();
        dc.SetUpdateTime(before - seconds(age));
        try {
            result = std::to_string(dc.Get_Value(0, key));
        } catch (const std::out_of_range& e) {
            result = e.what();
        }
        if (host_local_now() == before) break;
    }
    return result;
}
}  // namespace

TEST(DcCache, OnlyExactly450BytesAreApplied) {
    TRM27KDC dc;
    const Bytes image = Image();
    EXPECT_FALSE(dc.LoadFromCache(image.data(), 449));
    Bytes longer = image;
    longer.push_back(0x44);
    EXPECT_FALSE(dc.LoadFromCache(longer.data(), 451));
    EXPECT_FALSE(dc.LoadFromCache(image.data(), 0));
    EXPECT_FALSE(dc.LoadFromCache(image.data(), -450));
    EXPECT_FALSE(dc.LoadFromCache(nullptr, 450));
    EXPECT_FALSE(dc.DataReady());
    EXPECT_EQ(Bytes(450, 0), RecordBytes(dc.tele));
    EXPECT_TRUE(dc.LoadFromCache(image.data(), 450));
    EXPECT_EQ(image, RecordBytes(dc.tele));
    EXPECT_TRUE(dc.DataReady());
    EXPECT_LE(host_seconds_since(dc.UpdateTime()), 1);
    EXPECT_EQ(53.5f, dc.Get_Value(0, "v"));
    EXPECT_EQ(-7.25f, dc.Get_Value(0, "i"));
}

TEST(DcCache, RefusalLeavesAReadyRecordAlone) {
    TRM27KDC dc;
    ASSERT_TRUE(dc.LoadFromCache(Image(0x11).data(), 450));
    const Bytes before = RecordBytes(dc.tele);
    EXPECT_FALSE(dc.LoadFromCache(Image(0x22).data(), 449));
    EXPECT_TRUE(dc.DataReady());
    EXPECT_EQ(before, RecordBytes(dc.tele));
}

TEST(DcCache, TextFormHandsItsBytesOn) {
    TRM27KDC dc;
    const Bytes image = Image();
    EXPECT_FALSE(dc.LoadFromCache(std::string(image.begin(), image.end() - 1)));
    EXPECT_TRUE(dc.LoadFromCache(std::string(image.begin(), image.end())));
    EXPECT_EQ(53.5f, dc.Get_Value(0, "v"));
}

TEST(DcValue, NothingBeforeTheFirstUpdate) {
    TRM27KDC dc;
    EXPECT_EQ("数据未就绪", Failure(dc, "v"));
    EXPECT_EQ("数据未就绪", Failure(dc, "i"));
    // Decoded values alone do not make the record ready.
    BoundDc b;
    b.Feed41(DcAnalogBlock(0, 0, 0));
    EXPECT_EQ("数据未就绪", Failure(*b.dc, "v"));
}

TEST(DcValue, SixtySecondsIsFreshSixtyOneIsStale) {
    TRM27KDC dc;
    ASSERT_TRUE(dc.LoadFromCache(Image().data(), 450));
    EXPECT_EQ(std::to_string(53.5f), AnswerAt(dc, 60, "v"));
    EXPECT_EQ(std::to_string(-7.25f), AnswerAt(dc, 60, "i"));
    EXPECT_EQ("数据已超时", AnswerAt(dc, 61, "v"));
    EXPECT_EQ("数据已超时", AnswerAt(dc, 3600, "i"));
    // Staleness is reported before an unknown key.
    EXPECT_EQ("数据已超时", AnswerAt(dc, 61, "V"));
    // A clock set back counts as fresh.
    EXPECT_EQ(std::to_string(53.5f), AnswerAt(dc, -3600, "v"));
}

TEST(DcValue, OnlyVAndIAreAnswered) {
    TRM27KDC dc;
    ASSERT_TRUE(dc.LoadFromCache(Image().data(), 450));
    EXPECT_EQ(53.5f, dc.Get_Value(99, "v"));
    for (const char* key : {"V", "", "I", "v ", "m_values", "v_alarm", "ia"}) {
        EXPECT_EQ("数据未就绪", Failure(dc, key)) << key;
    }
}

// Once ready, the query answers the newest decoded values, also mid-cycle.
TEST(DcValue, AnswersTheNewestDecodedValues) {
    BoundDc b;
    b.dc->RoundDone();
    EXPECT_EQ(0.0f, b.dc->Get_Value(0, "v"));
    ::testing::internal::CaptureStdout();
    b.Feed41(DcAnalogBlock(54.25f, 3.5f, {}, {}, {}));
    ::testing::internal::GetCapturedStdout();
    EXPECT_EQ(54.25f, b.dc->Get_Value(0, "v"));
    EXPECT_EQ(3.5f, b.dc->Get_Value(0, "i"));
}
