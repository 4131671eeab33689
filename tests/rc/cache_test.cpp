// The cached rectifier data image: accepted only whole, with exactly as many
// module records as it announces; a refused image changes nothing.
#include <cstring>

#include "RcTestKit.h"

using namespace testing_support;

namespace {
struct Cache : RcFixture {
    // An image of `modules` modules as another device published it.
    Bytes ImageOf(uint8_t modules) {
        auto source = std::make_shared<TRM27KRC>();
        source->InitV(&parent, 9, Json::Value(Json::objectValue));
        const Bytes reply = AnalogReply(modules, 61.5f);
        source->parse41_41(reply.data(), static_cast<int>(reply.size()));
        source->RoundDone();
        return controller->records.back().image;
    }
    bool Load(const Bytes& image, std::string& out) {
        testing::internal::CaptureStdout();
        const bool taken = rc->LoadFromCache(image.data(), static_cast<int>(image.size()));
        out = testing::internal::GetCapturedStdout();
        return taken;
    }
};
}  // namespace

TEST_F(Cache, AWholeImageIsTakenAndMakesTheDeviceReady) {
    const Bytes image = ImageOf(2);
    ASSERT_EQ(447u, image.size());
    std::string out;
    EXPECT_TRUE(Load(image, out));
    EXPECT_EQ("rc data_len:447 vs 253\nrc channelLen 97 and 2 left:194\n", out);
    EXPECT_TRUE(rc->DataReady());
    EXPECT_EQ(61.5f, Val(rc->tele.group_value));
    ASSERT_EQ(2u, rc->channels.size());
    EXPECT_EQ(AnalogOf(1, 12), Val(rc->channels[1].analog_user[12]));
}

TEST_F(Cache, AnImageShorterThanTheGroupRecordIsRefused) {
    std::string out;
    EXPECT_FALSE(Load(Bytes(252, 0), out));
    EXPECT_EQ("rc data_len:252 vs 253\n", out);
    EXPECT_FALSE(rc->DataReady());
}

// An image whose length does not match its own module count must not
// replace the live record.
TEST_F(Cache, AnImageOfTheWrongLengthChangesNothing) {
    ASSERT_EQ(177, Parse(&TRM27KRC::parse41_41, AnalogReply(3)));
    const auto tele = rc->tele;
    Bytes image = ImageOf(1);
    image.push_back(0);
    std::string out;
    EXPECT_FALSE(Load(image, out));
    EXPECT_EQ("rc data_len:351 vs 253\nrc channelLen 97 and 1 left:98\n", out);
    EXPECT_FALSE(rc->DataReady());
    EXPECT_EQ(0, std::memcmp(&tele, &rc->tele, sizeof tele));
    EXPECT_EQ(3u, rc->channels.size());
    EXPECT_EQ(177, Parse(&TRM27KRC::parse41_41, AnalogReply(3)));
}

TEST_F(Cache, ATakenImageIsPublishedAgainUnchangedApartFromTheStamp) {
    const Bytes image = ImageOf(2);
    std::string out;
    ASSERT_TRUE(Load(image, out));
    rc->RoundDone();
    Bytes again = controller->records.back().image;
    ASSERT_EQ(image.size(), again.size());
    std::memcpy(again.data() + 246, image.data() + 246, 7);
    EXPECT_EQ(image, again);
}

// A module swapped while the monitor was stopped: the restored count gives
// way to the first live reply at once, and the modules are laid out anew.
TEST_F(Cache, TheFirstLiveReplyReplacesTheModuleCountOfATakenImage) {
    std::string out;
    ASSERT_TRUE(Load(ImageOf(3), out));
    rc->channels[0].fault = 1;
    EXPECT_EQ(234, Parse(&TRM27KRC::parse41_41, AnalogReply(4)));
    EXPECT_EQ(4, rc->tele.channel_count);
    ASSERT_EQ(4u, rc->channels.size());
    EXPECT_EQ(0, rc->channels[0].fault);
    EXPECT_EQ(AnalogOf(3, 0), Val(rc->channels[3].analog_user[0]));
    EXPECT_EQ("PMBusPowerRC<TeleRC,TeleRCChannel,RT_RC>:ProcotolError 7 read 41_41 "
              "channel_count is 4, cached 3 replaced",
              LastLog());
    EXPECT_EQ(-1, Parse(&TRM27KRC::parse41_41, AnalogReply(3)));  // live: guarded again
}
