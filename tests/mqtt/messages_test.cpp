// The state messages print each value as people write it: the default
// scenario's 230.1 V is "230.1", not the float's widened 230.10000610351562.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "SiteImages.h"
#include "messages.h"

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
         {"\"a\":230.1,", "\"f\":50.0,", "\"ia\":13.1,"}},
        {Child(21, 5176, ScenarioDc()),
         {"\"v\":53.5,", "\"i\":42.0,", "\"m_values\":[5.2,4.8999996,null,"}},
    };
    mqtt::MqttSettings settings;
    for (const Case& c : kCases) {
        const std::string payload = mqtt::StateMessage(settings, c.child).payload;
        for (const std::string& text : c.texts) {
            EXPECT_NE(std::string::npos, payload.find(text)) << text << " in " << payload;
        }
    }
}
