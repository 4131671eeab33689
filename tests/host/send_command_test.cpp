// The controller's default SendCommand: frames each command into a buffer it
// reuses and writes exactly that frame to the transport.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "RecordingController.h"
#include "SMDController.h"
#include "pmbus_frame.h"

using namespace testing_support;

namespace {
class RecordingTransport : public host::SerialTransport {
public:
    bool Write(const uint8_t* bytes, size_t count) override {
        writes.emplace_back(reinterpret_cast<const char*>(bytes), count);
        return true;
    }
    std::vector<std::string> writes;
};

std::string Expected(const PMBusProtocol& device, uint8_t cid1, uint8_t cid2,
                     const std::vector<uint8_t>& info) {
    std::string frame;
    host::EncodeFrame(device.Version(), device.Address(), cid1, cid2, info.data(), info.size(),
                      frame);
    return frame;
}
}  // namespace

TEST(DefaultSendCommand, EachCommandIsWrittenAsItsOwnWholeFrame) {
    auto controller = std::make_shared<SMDController>();
    auto transport = std::make_shared<RecordingTransport>();
    controller->SetTransport(transport);
    auto device = std::make_shared<ParentDevice>();
    device->Init(controller, 1, Json::Value());
    const std::vector<uint8_t> longInfo = {0xFF, 0x01, 0x02, 0x03};
    const std::vector<uint8_t> noInfo;

    // A long command first, so a reused buffer would show leftovers in the next.
    ASSERT_TRUE(device->write_pmbus_cmd(0x40, 0x41, longInfo.data(), 4));
    ASSERT_TRUE(device->write_pmbus_cmd(0x41, 0x43));
    ASSERT_TRUE(device->write_pmbus_cmd(0x40, 0x41, longInfo.data(), 4));

    ASSERT_EQ(3u, transport->writes.size());
    EXPECT_EQ(Expected(*device, 0x40, 0x41, longInfo), transport->writes[0]);
    EXPECT_EQ(Expected(*device, 0x41, 0x43, noInfo), transport->writes[1]);
    EXPECT_EQ(transport->writes[0], transport->writes[2]);
}

TEST(DefaultSendCommand, WithoutTransportNothingIsSent) {
    auto controller = std::make_shared<SMDController>();
    auto device = std::make_shared<ParentDevice>();
    device->Init(controller, 1, Json::Value());
    EXPECT_FALSE(device->write_pmbus_cmd(0x40, 0x41));
}
