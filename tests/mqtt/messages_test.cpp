// The state messages print each value as people write it: the default
// scenario's 230.1 V is "230.1", not the float's widened 230.10000610351562.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "SiteImages.h"
#include "messages.h"
#include "value_topics.h"

using namespace testing_support;

namespace {
site::ChildState Child(unsigned int dataId, int recordType, std::vector<uint8_t> image) {
    site::ChildState child;
    child.dataId = dataId;
    child.recordType = recordType;
    child.image = std::move(image);
    return child;
}

// The default scenario's DC screen: its two battery currents are summed in
// float, so the second keeps the float's digits.
std::vector<uint8_t> ScenarioDc() {
    std::vector<uint8_t> image = DcImage(21, 53.5f, 42.0f);
    const float batteries[2] = {5.2f, 5.2f - 0.3f};
    std::memcpy(image.data() + offsetof(tele_c_trm27k_dc, m_values), batteries, sizeof batteries);
    image[offsetof(tele_c_trm27k_dc, dc_m)] = 2;
    return image;
}

struct Case {
    site::ChildState child;
    std::vector<std::string> texts;
};
}  // namespace

TEST(StateMessage, PrintsTheDefaultScenariosValuesAsPeopleWriteThem) {
    const Case kCases[] = {
        {Child(11, 5175, AcImage(11, 2, 230.1f, 13.1f)),
         {"\"a\":230.1,", "\"f\":50.0,", "\"ia\":13.1,", "\"cycle_ms\":1765360800250,"}},
        {Child(21, 5176, ScenarioDc()),
         {"\"v\":53.5,", "\"i\":42.0,", "\"m_values\":[5.2,4.8999996,null,"}},
    };
    mqtt::MqttSettings settings;
    for (const Case& c : kCases) {
        const std::string payload = mqtt::StateMessage(settings, c.child, 1765360800250).payload;
        for (const std::string& text : c.texts) {
            EXPECT_NE(std::string::npos, payload.find(text)) << text << " in " << payload;
        }
    }
}

// Report by exception per value, cycle after cycle of one DC screen: each
// step gives the bus voltage and the battery count, and what goes out. A
// value is judged against the value last reported, not the last cycle's, so
// a creep below diff_v per cycle still goes out once it sums to diff_v; a
// battery the screen no longer announces is removed; a refresh sends all.
TEST(ValueReports, ReportEachValueThatMovedByItsThreshold) {
    struct Step {
        float volts;
        uint8_t batteries;
        bool all;
        std::vector<std::string> sent;  // "TOPIC=PAYLOAD", in table order
    };
    const Step kSteps[] = {
        {53.5f, 2, false, {"v=53.5", "i=42.0", "bat0_m_values=5.2", "bat1_m_values=4.8999996"}},
        {53.45f, 2, false, {}},                 // 0.05 V: below the DC diff_v of 0.1 V
        {53.41f, 2, false, {}},                 // 0.09 V from 53.5 in all
        {53.39f, 2, false, {"v=53.39"}},        // 0.11 V from 53.5
        {53.39f, 1, false, {"bat1_m_values="}},  // removed
        {53.39f, 1, true, {"v=53.39", "i=42.0", "bat0_m_values=5.2"}},
    };
    mqtt::MqttSettings settings;
    mqtt::ValueReports reports;
    for (const Step& step : kSteps) {
        std::vector<uint8_t> image = ScenarioDc();
        std::memcpy(image.data() + offsetof(tele_c_trm27k_dc, v), &step.volts, 4);
        image[offsetof(tele_c_trm27k_dc, dc_m)] = step.batteries;
        site::ChildState child = Child(21, 5176, image);
        child.limits = site::ThresholdsOf(5176, Json::Value());
        std::vector<mqtt::Message> out;
        reports.Collect(settings, child, step.all, out);
        std::vector<std::string> sent;
        for (const mqtt::Message& m : out) {
            EXPECT_TRUE(m.retain);
            sent.push_back(m.topic.substr(std::string("trm27k/site/21/").size()) + "=" + m.payload);
        }
        EXPECT_EQ(step.sent, sent) << "at " << step.volts << " V, " << int{step.batteries} << " batteries";
    }
}
