// The diagnostic log path: device -> controller -> sink, and the formatting.
#include <gtest/gtest.h>

#include "RecordingController.h"
#include "log_format.h"

using testing_support::ParentDevice;
using testing_support::RecordingController;

TEST(LogFormat, FillsBracesInOrderAndShowsBytesAsNumbers) {
    const uint8_t count = 3;
    std::vector<std::string> args{host::LogArgText(7u), host::LogArgText(count),
                                  host::LogArgText(-1)};
    EXPECT_EQ("read 7 p is 3 not -1", host::FormatLogLine("read {} p is {} not {}", args));
}

TEST(LogFormat, RendersPrintfConversionsAndPercent) {
    std::vector<std::string> args{"11", "1", "0"};
    EXPECT_EQ("ProcotolError 11 read 40_43 m is 1 max 0",
              host::FormatLogLine("ProcotolError %u read 40_43 m is %d max %d", args));
    EXPECT_EQ("100% 5", host::FormatLogLine("100%% {}", {"5"}));
}

TEST(LogFormat, MissingArgumentsLeaveTheMarkerEmptyAndExtraAreIgnored) {
    EXPECT_EQ("a  b", host::FormatLogLine("a {} b", {}));
    EXPECT_EQ("a 1 b", host::FormatLogLine("a {} b", {"1", "2"}));
    EXPECT_EQ("trailing {", host::FormatLogLine("trailing {", {"x"}));
}

// A line goes to the device's own controller only: not to another device's,
// and nowhere once its controller is gone.
TEST(DeviceLog, LinesReachOnlyTheDevicesOwnLiveController) {
    auto controller = std::make_shared<RecordingController>();
    ParentDevice unbound;
    ParentDevice bound;
    bound.Init(controller, 5, Json::Value());
    unbound.InfoLog("unbound {}", 1u);
    bound.InfoLog("bound {}", bound.DataId());
    ASSERT_EQ(1u, controller->logs.size());
    EXPECT_EQ("bound 5", controller->logs[0].text);
    auto other = std::make_shared<RecordingController>();
    ParentDevice expired;
    expired.Init(other, 6, Json::Value());
    std::weak_ptr<RecordingController> watch = other;
    other.reset();
    ASSERT_TRUE(watch.expired());
    expired.InfoLog("expired {}", 1u);
    EXPECT_EQ(1u, controller->logs.size());
}

TEST(DeviceLog, LiveControllerGetsTemplateArgumentsAndText) {
    auto controller = std::make_shared<RecordingController>();
    ParentDevice device;
    device.Init(controller, 12, Json::Value());
    device.InfoLog("PMBusPower:ProcotolError {} read ac_number is {}, configured ac_number is {}",
                   device.DataId(), 3u, 2u);
    ASSERT_EQ(1u, controller->logs.size());
    const auto& line = controller->logs[0];
    EXPECT_EQ("PMBusPower:ProcotolError {} read ac_number is {}, configured ac_number is {}",
              line.tmpl);
    EXPECT_EQ((std::vector<std::string>{"12", "3", "2"}), line.args);
    EXPECT_EQ("PMBusPower:ProcotolError 12 read ac_number is 3, configured ac_number is 2",
              line.text);
}

TEST(DeviceLog, ControllerWithoutSinkFormatsNothing) {
    auto controller = std::make_shared<RecordingController>();
    controller->SetLogSink(nullptr);
    ParentDevice device;
    device.Init(controller, 1, Json::Value());
    device.InfoLog("x {}", 1u);
    EXPECT_TRUE(controller->logs.empty());
}
