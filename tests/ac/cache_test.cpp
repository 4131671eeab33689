// The AC data image read back through LoadFromCache.
#include <gtest/gtest.h>

#include "AcTestKit.h"

using namespace testing_support;

namespace {
// An image as RoundDone publishes it, with `n` channels.
Bytes Image(uint8_t n, float firstA = 230.0f) {
    tele_c_trm27k_ac tele{};
    tele.id = 11;
    tele.ia = 4.0f;
    tele.channel_count = n;
    Bytes out(sizeof(tele));
    std::memcpy(out.data(), &tele, sizeof(tele));
    for (uint8_t k = 0; k < n; ++k) {
        tele_c_trm27k_ac_channel ch{};
        ch.a = firstA + k;
        const size_t at = out.size();
        out.resize(at + sizeof(ch));
        std::memcpy(out.data() + at, &ch, sizeof(ch));
    }
    return out;
}
bool Load(TRM27KAC& ac, const Bytes& image, int length) {
    return ac.LoadFromCache(image.data(), length);
}
}  // namespace

TEST(AcCache, WholeImageIsAppliedAndMakesTheDataReady) {
    BoundAc b;
    const Bytes image = Image(3);
    ASSERT_EQ(42u + 3 * 160, image.size());
    EXPECT_TRUE(Load(*b.ac, image, static_cast<int>(image.size())));
    EXPECT_TRUE(b.ac->DataReady());
    EXPECT_LE(host_seconds_since(b.ac->UpdateTime()), 1);
    ASSERT_EQ(3u, b.ac->channels.size());
    EXPECT_EQ(232.0f, Val(b.ac->channels[2].a));
    EXPECT_EQ(4.0f, b.ac->Get_Value(0, "ia"));
}

TEST(AcCache, HeaderOnlyOrShorterIsRefused) {
    BoundAc b;
    const Bytes image = Image(0);
    EXPECT_FALSE(Load(*b.ac, image, 42));
    EXPECT_FALSE(Load(*b.ac, image, 0));
    EXPECT_FALSE(Load(*b.ac, image, -1));
    EXPECT_FALSE(b.ac->LoadFromCache(nullptr, 500));
    EXPECT_FALSE(b.ac->DataReady());
}

// A refused image must not replace the live record nor fix its channel count:
// the device would otherwise refuse every real analog reply afterwards.
TEST(AcCache, RefusedImageChangesNothing) {
    BoundAc b;
    ASSERT_EQ(287, b.Feed41(AcAnalogBlock(2)));
    Bytes bad = Image(3, 100.0f);
    bad.push_back(0);
    EXPECT_FALSE(Load(*b.ac, bad, static_cast<int>(bad.size())));
    EXPECT_EQ(2, b.ac->tele.channel_count);
    EXPECT_EQ(2u, b.ac->channels.size());
    EXPECT_EQ(11u, Val(b.ac->tele.id));
    EXPECT_EQ(220.0f, Val(b.ac->channels[0].a));
    EXPECT_FALSE(b.ac->DataReady());
    EXPECT_EQ(287, b.Feed41(AcAnalogBlock(2)));
}

// The screen may have changed while the image lay in the cache: the first
// live block sets the count, whatever the image said.
TEST(AcCache, TheFirstLiveBlockReplacesTheCountOfAnAppliedImage) {
    BoundAc b;
    const Bytes image = Image(3);
    ASSERT_TRUE(Load(*b.ac, image, static_cast<int>(image.size())));
    EXPECT_EQ(287, b.Feed41(AcAnalogBlock(2)));
    EXPECT_EQ(2, b.ac->tele.channel_count);
    ASSERT_EQ(2u, b.ac->channels.size());
    EXPECT_EQ(220.0f, Val(b.ac->channels[0].a));
    ASSERT_EQ(1u, b.controller->logs.size());
    EXPECT_EQ("PMBusPowerAC:ProcotolError 11 read 40_41 channel_count is 2, cached 3 replaced",
              b.controller->logs[0].text);
    EXPECT_EQ(-1, b.Feed41(AcAnalogBlock(3)));  // live now: one block does not move it
    // A live block that confirms the image's count makes it live as well.
    BoundAc c;
    ASSERT_TRUE(Load(*c.ac, image, static_cast<int>(image.size())));
    EXPECT_EQ(13 + 3 * 137, c.Feed41(AcAnalogBlock(3)));
    EXPECT_EQ(-1, c.Feed41(AcAnalogBlock(2)));
    EXPECT_TRUE(c.controller->logs.empty());
}

TEST(AcCache, TextFormHandsItsBytesOn) {
    BoundAc b;
    const Bytes image = Image(1);
    const std::string text(image.begin(), image.end());
    EXPECT_TRUE(b.ac->LoadFromCache(text));
    EXPECT_EQ(1u, b.ac->channels.size());
}
