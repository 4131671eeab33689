// The protocol base: its setting, the exchange state and reply hand-over.
#include <gtest/gtest.h>

#include "Bytes.h"
#include "RecordingController.h"
#include "ttime.h"

using namespace testing_support;

namespace {
class CountingDevice : public ParentDevice {
public:
    bool process_payload() override {
        ++payloads;
        lastCid1 = reply_[2];
        return true;
    }
    int payloads = 0;
    uint8_t lastCid1 = 0;
};

Json::Value Parse(const std::string& text) {
    Json::Value v;
    Json::Reader().parse(text, v);
    return v;
}
}  // namespace

TEST(ProtocolSetting, AddressDefaultsToOneAndAcceptsTheByteRange) {
    auto controller = std::make_shared<RecordingController>();
    CountingDevice d;
    d.Init(controller, 1, Json::Value());
    EXPECT_TRUE(d.InitSetting(Parse("{}")));
    EXPECT_EQ(1, d.Address());
    EXPECT_TRUE(d.InitSetting(Parse(R"({"address": 0})")));
    EXPECT_EQ(0, d.Address());
    EXPECT_TRUE(d.InitSetting(Parse(R"({"address": 255})")));
    EXPECT_EQ(255, d.Address());
}

TEST(ProtocolSetting, AddressOutOfRangeOrNotAnIntegerIsRefusedWithALogLine) {
    auto controller = std::make_shared<RecordingController>();
    CountingDevice d;
    d.Init(controller, 1, Json::Value());
    for (const char* bad : {R"({"address": 256})", R"({"address": -1})", R"({"address": "1"})",
                            R"({"address": 1.5})", R"({"address": [1]})", "[1]"}) {
        controller->logs.clear();
        EXPECT_FALSE(d.InitSetting(Parse(bad))) << bad;
        EXPECT_EQ(1u, controller->logs.size()) << bad;
    }
}

TEST(ProtocolExchange, SendingMakesTheExchangePendingUntilAReplyOrReset) {
    auto controller = std::make_shared<RecordingController>();
    CountingDevice d;
    d.Init(controller, 1, Json::Value());
    EXPECT_TRUE(d.RefreshStatus());
    const uint8_t group = 0xFF;
    EXPECT_TRUE(d.write_pmbus_cmd(0x40, 0x41, &group, 1));
    ASSERT_EQ(1u, controller->commands.size());
    EXPECT_EQ((Bytes{0xFF}), controller->commands[0].info);
    EXPECT_FALSE(d.RefreshStatus());
    d.Reset();
    EXPECT_TRUE(d.RefreshStatus());
    d.write_pmbus_cmd(0x40, 0x51);
    const Bytes reply = Reply(0x40, Hex("00 01"));
    EXPECT_TRUE(d.HandleReply(reply.data(), reply.size()));
    EXPECT_TRUE(d.RefreshStatus());
    EXPECT_EQ(1, d.payloads);
}

TEST(ProtocolExchange, RepliesShorterThanTheirLengthOrWithRtnAreRefused) {
    auto controller = std::make_shared<RecordingController>();
    CountingDevice d;
    d.Init(controller, 1, Json::Value());
    Bytes reply = Reply(0x40, Hex("00 01 02"));
    EXPECT_FALSE(d.HandleReply(reply.data(), reply.size() - 1));
    EXPECT_FALSE(d.HandleReply(reply.data(), 5));
    reply[3] = 0x04;  // RTN: command format error
    EXPECT_FALSE(d.HandleReply(reply.data(), reply.size()));
    EXPECT_EQ(0, d.payloads);
    EXPECT_EQ(2u, controller->logs.size());
}

TEST(ProtocolExchange, ReplyHandOverStampsTheUpdateTime) {
    auto controller = std::make_shared<RecordingController>();
    CountingDevice d;
    d.Init(controller, 1, Json::Value());
    EXPECT_TRUE(d.UpdateTime().is_special());
    const Bytes reply = Reply(0x42, {});
    d.HandleReply(reply.data(), reply.size());
    EXPECT_LE(host_seconds_since(d.UpdateTime()), 1);
    EXPECT_EQ(0x42, d.lastCid1);
}

namespace {
struct FrameErrors : RecordingController {
    void OnFrameError(PMBusProtocol&, const char* reason, const char*, size_t) override {
        reasons.emplace_back(reason);
    }
    std::vector<std::string> reasons;
};
void Receive(PMBusProtocol& d, const std::string& text) {
    std::string copy = text;
    d.process(reinterpret_cast<unsigned char*>(copy.data()), static_cast<unsigned int>(copy.size()));
}
}  // namespace

TEST(ProtocolReceive, GoodFramesReachTheDeviceBadOnesAreDroppedWithAReason) {
    auto controller = std::make_shared<FrameErrors>();
    CountingDevice d;
    d.Init(controller, 1, Json::Value());
    d.write_pmbus_cmd(0x40, 0x51);
    Receive(d, "noise~21014000C0040102FCDE\r");
    EXPECT_EQ(1, d.payloads);
    d.write_pmbus_cmd(0x40, 0x51);
    Receive(d, "~21014000C0040102FCDF\r~21024000C0040102FCDD\r");
    EXPECT_EQ(1, d.payloads);
    EXPECT_EQ((std::vector<std::string>{"wrong CHKSUM", "another address"}), controller->reasons);
    EXPECT_EQ(2u, controller->logs.size());
    // A frame split over two reads is put together.
    Receive(d, "~21014000C00");
    Receive(d, "40102FCDE\r");
    EXPECT_EQ(2, d.payloads);
}

namespace {
// Sends the next command from the reply handler, as the main device does.
class ChainingDevice : public CountingDevice {
public:
    bool process_payload() override {
        CountingDevice::process_payload();
        write_pmbus_cmd(0x42, 0x44);
        return true;
    }
};
}  // namespace

TEST(ProtocolReceive, OnlyAWaitingCommandTakesAFrameAndNothingReadBeforeItsCommand) {
    auto controller = std::make_shared<FrameErrors>();
    ChainingDevice d;
    d.Init(controller, 1, Json::Value());
    const std::string reply = "~21014000C0040102FCDE\r";
    // Nothing waits: the frame answers nothing and reaches no handler.
    Receive(d, reply);
    EXPECT_EQ(0, d.payloads);
    EXPECT_EQ((std::vector<std::string>{"no command waiting"}), controller->reasons);
    EXPECT_TRUE(controller->logs.empty());
    // A reply and its duplicate in one read: the handler sends the next
    // command, and the duplicate, read before that command went out, is no
    // answer to it. Neither is the start of a frame cut by the command.
    d.write_pmbus_cmd(0x42, 0x41);
    Receive(d, reply + reply + "~2101");
    EXPECT_EQ(1, d.payloads);
    Receive(d, "4000C0040102FCDE\r");
    EXPECT_EQ(1, d.payloads);
    EXPECT_TRUE(d.IsProcessing());
    Receive(d, reply);
    EXPECT_EQ(2, d.payloads);
}
