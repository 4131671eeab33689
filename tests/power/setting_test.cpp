// Configuration of the main device, its children and the child lookups.
#include <gtest/gtest.h>

#include "FakeChildren.h"

using namespace testing_support;

namespace {
struct Configured {
    std::shared_ptr<RecordingController> controller = std::make_shared<RecordingController>();
    std::shared_ptr<FakePower> power = std::make_shared<FakePower>();
    bool ok;
    explicit Configured(const std::string& json, unsigned int id = 1) {
        power->Init(controller, id, Json::Value());
        ok = power->InitSetting(ParseJson(json));
    }
};
}  // namespace

TEST(MainSetting, ChildrenInConfigurationOrderWithTheirIds) {
    Configured c(R"({"acSetting": [{"data_id": 11}, {"data_id": 12}],
                     "dcSetting": [{"data_id": 21}], "rcSetting": {}})");
    ASSERT_TRUE(c.ok);
    ASSERT_EQ(2u, c.power->AcDevices().size());
    EXPECT_EQ(12u, c.power->AcDevices()[1]->DataId());
    EXPECT_EQ(c.power->AcDevices()[1], c.power->GetChildVDevice(12));
    EXPECT_EQ(21u, c.power->GetChildVDevice(21)->DataId());
    EXPECT_EQ(1u, c.power->RcDevice()->DataId());
    EXPECT_EQ(c.power.get(), c.power->RcDevice()->Parent());
    const auto all = c.power->GetAllChildVDevices();
    ASSERT_EQ(4u, all.size());
    EXPECT_EQ(c.power->RcDevice(), all[3]);
}

TEST(MainSetting, RectifierChildOnlyAndLookupOfTheMainId) {
    Configured c(R"({"dcSetting": [], "rcSetting": {}})");
    ASSERT_TRUE(c.ok);
    EXPECT_EQ(1u, c.power->GetAllChildVDevices().size());
    EXPECT_EQ(nullptr, c.power->GetChildVDevice(1));
}

TEST(MainSetting, AcChildWinsOverADcChildWithTheSameId) {
    Configured c(R"({"acSetting": [{"data_id": 5}], "dcSetting": [{"data_id": 5}],
                     "rcSetting": {}})", 5);
    EXPECT_EQ(c.power->AcDevices()[0], c.power->GetChildVDevice(5));
}

TEST(MainSetting, MissingIdsAreZeroAndTheFirstMatchWins) {
    Configured c(R"({"acSetting": [{}, {}], "rcSetting": {}})");
    ASSERT_TRUE(c.ok);
    EXPECT_EQ(0u, c.power->AcDevices()[1]->DataId());
    EXPECT_EQ(c.power->AcDevices()[0], c.power->GetChildVDevice(0));
}

// Ids convert as the JSON library converts them to an unsigned number; a null
// element is an empty settings object.
TEST(MainSetting, IdsConvertLikeTheJsonLibrary) {
    Configured c(R"({"acSetting": [{"data_id": true}, null, {"data_id": null}],
                     "dcSetting": [{"data_id": 1.5}, {"data_id": 21.0}, {"data_id": false}],
                     "rcSetting": {}})");
    ASSERT_TRUE(c.ok);
    std::vector<unsigned int> ids;
    for (const auto& child : c.power->GetAllChildVDevices()) ids.push_back(child->DataId());
    EXPECT_EQ((std::vector<unsigned int>{1, 0, 0, 1, 21, 0, 1}), ids);
    EXPECT_TRUE(c.controller->logs.empty());
}

TEST(MainSetting, AcSettingAsAnObjectIsIgnored) {
    Configured c(R"({"acSetting": {"data_id": 3}, "rcSetting": {}})");
    EXPECT_TRUE(c.ok);
    EXPECT_TRUE(c.power->AcDevices().empty());
}

// DC children made after a model reply are told its 20-byte text.
TEST(MainSetting, DcChildrenAreToldTheModelText) {
    PowerRig rig(0, 1);
    ASSERT_TRUE(rig.configured);
    EXPECT_EQ("", rig.Dc(0).model_text);
    rig.Refresh();
    Bytes model{'T', 'R', 'M', '2', '7', 'K', '-', '4', '8'};
    PutN(model, ' ', 11);
    ASSERT_TRUE(rig.Feed(0x40, model));
    ASSERT_TRUE(rig.power->InitSetting(ParseJson(R"({"dcSetting": [{"data_id": 2}], "rcSetting": {}})")));
    ASSERT_EQ(2u, rig.power->DcDevices().size());
    EXPECT_EQ("TRM27K-48           ", rig.Dc(1).model_text);
    EXPECT_EQ("", rig.Dc(0).model_text);
}

// Without a rectifier child the device must never be polled nor touch the
// missing child, whatever the host does.
TEST(MainSetting, WithoutRcSettingNothingIsPolled) {
    Configured c(R"({"acSetting": [{"data_id": 11}]})");
    EXPECT_FALSE(c.ok);
    EXPECT_EQ(1u, c.power->AcDevices().size());
    EXPECT_EQ(1u, c.power->GetAllChildVDevices().size());  // no empty entry
    EXPECT_FALSE(c.power->RefreshStatus());
    EXPECT_TRUE(c.controller->commands.empty());
    const Bytes reply = Reply(0x41, Hex("00 01 02"));
    c.power->SetStep(4);
    EXPECT_TRUE(c.power->HandleReply(reply.data(), reply.size()));
    EXPECT_TRUE(c.controller->pauses.empty());
}

TEST(MainSetting, NullRcSettingFailsAndABadAddressCreatesNothing) {
    Configured nullRc(R"({"rcSetting": null})");
    EXPECT_FALSE(nullRc.ok);
    Configured bad(R"({"address": 300, "acSetting": [{}], "rcSetting": {}})");
    EXPECT_FALSE(bad.ok);
    EXPECT_TRUE(bad.power->AcDevices().empty());
    EXPECT_EQ(nullptr, bad.power->RcDevice());
}

// A malformed configuration is a false result with a log line, never an
// exception into the host.
TEST(MainSetting, MalformedEntriesFailWithALogLine) {
    for (const char* json :
         {R"({"acSetting": [5], "rcSetting": {}})", R"({"dcSetting": ["x"], "rcSetting": {}})",
          R"({"acSetting": [{"data_id": -1}], "rcSetting": {}})",
          R"({"acSetting": [{"data_id": "11"}], "rcSetting": {}})",
          R"({"dcSetting": [{"data_id": [1]}], "rcSetting": {}})",
          R"({"dcSetting": [{"data_id": 4294967296}], "rcSetting": {}})",
          R"({"acSetting": [[{"data_id": 1}]], "rcSetting": {}})",
          R"({"rcSetting": {"throw": true}})"}) {
        bool ok = true;
        std::shared_ptr<RecordingController> controller;
        EXPECT_NO_THROW({
            Configured c(json);
            ok = c.ok;
            controller = c.controller;
            EXPECT_FALSE(c.power->RefreshStatus()) << json;
        }) << json;
        EXPECT_FALSE(ok) << json;
        EXPECT_EQ(1u, controller->logs.size()) << json;
    }
}

TEST(MainSetting, LoadFromCacheAcceptsAnything) {
    FakePower power;
    EXPECT_TRUE(power.LoadFromCache(nullptr, 0));
    const uint8_t junk[3] = {1, 2, 3};
    EXPECT_TRUE(power.LoadFromCache(junk, 3));
}
