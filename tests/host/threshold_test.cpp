// Threshold rules and the end-of-cycle work item.
#include <gtest/gtest.h>

#include "RecordingController.h"

using testing_support::ParentDevice;
using testing_support::RecordingController;
using testing_support::WorkMode;

namespace {
struct Bound {
    std::shared_ptr<RecordingController> controller = std::make_shared<RecordingController>();
    std::shared_ptr<ParentDevice> device = std::make_shared<ParentDevice>();
    Bound() { device->Init(controller, 7, Json::Value()); }
};
}  // namespace

TEST(Threshold, CheckThresholdBoolAppendsEveryArgument) {
    Bound b;
    b.device->CheckThresholdBool(3, "DC_0", "06008", "name", "detail", true, 1);
    b.device->CheckThresholdBool(1, "DC_3", "06001", "n2", "d2", false, 2);
    ASSERT_EQ(2u, b.device->PendingRules().size());
    const rule_value& r = b.device->PendingRules()[0];
    EXPECT_EQ(3, r.level);
    EXPECT_EQ("DC_0", r.key);
    EXPECT_EQ("06008", r.code);
    EXPECT_EQ("name", r.name);
    EXPECT_EQ("detail", r.detail);
    EXPECT_EQ(1, r.active);
    EXPECT_EQ(1, r.sequence);
    EXPECT_EQ(7u, r.data_id);
    EXPECT_EQ(0, b.device->PendingRules()[1].active);
}

TEST(Threshold, HandOverMovesRulesIntoOneWorkItemAndKeepsCapacity) {
    Bound b;
    for (uint16_t i = 1; i <= 5; ++i) b.device->CheckThresholdBool(2, "k", "c", "n", "d", false, i);
    b.device->HandOverCycle({1, 2, 3});
    EXPECT_TRUE(b.device->PendingRules().empty());
    EXPECT_GE(b.device->PendingRules().capacity(), 5u);
    ASSERT_EQ(1u, b.controller->batches.size());
    EXPECT_EQ(5u, b.controller->batches[0].rules.size());
    ASSERT_EQ(1u, b.controller->history.size());
    EXPECT_EQ((std::vector<uint8_t>{1, 2, 3}), b.controller->history[0].image);
}

TEST(Threshold, BatchResultIsOredIntoTheFlagAndNeverCleared) {
    Bound b;
    b.device->HandOverCycle({});
    EXPECT_FALSE(b.device->ThresholdResult());
    b.controller->batchResult = true;
    b.device->HandOverCycle({});
    EXPECT_TRUE(b.device->ThresholdResult());
    b.controller->batchResult = false;
    b.device->HandOverCycle({});
    EXPECT_TRUE(b.device->ThresholdResult());
}

TEST(Threshold, HeldWorkItemKeepsTheDeviceAliveAndItsOwnRules) {
    Bound b;
    b.controller->workMode = WorkMode::Hold;
    b.device->CheckThresholdBool(2, "first", "c", "n", "d", true, 1);
    b.device->HandOverCycle({9});
    b.device->CheckThresholdBool(2, "second", "c", "n", "d", true, 1);
    b.device->HandOverCycle({8});
    std::weak_ptr<ParentDevice> weak = b.device;
    b.device.reset();
    ASSERT_FALSE(weak.expired());
    b.controller->RunHeld();
    ASSERT_EQ(2u, b.controller->batches.size());
    EXPECT_EQ("first", b.controller->batches[0].rules.at(0).key);
    EXPECT_EQ("second", b.controller->batches[1].rules.at(0).key);
    EXPECT_EQ((std::vector<uint8_t>{9}), b.controller->history[0].image);
    EXPECT_TRUE(weak.expired());
}

TEST(Threshold, WithoutControllerTheWorkRunsAtOnceAndBatchIsFalse) {
    auto device = std::make_shared<ParentDevice>();
    device->CheckThresholdBool(2, "k", "c", "n", "d", true, 1);
    device->HandOverCycle({});
    EXPECT_TRUE(device->PendingRules().empty());
    EXPECT_FALSE(device->ThresholdResult());
}
