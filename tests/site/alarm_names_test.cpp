// Every text the plug-in's alarm rules can carry has an English name, and a
// rule's display name tells the channel, fuse or module its detail names.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ac_alarm_table.h"
#include "alarm_names.h"
#include "dc_alarm_catalogue.h"
#include "dc_alarm_table.h"
#include "rc_alarm_table.h"

namespace {
// The device-model check's name; its detail is made of what the device sent.
constexpr const char* kModelCheck = "设备配置检测";

template <class Table>
void AddTexts(const Table& table, std::vector<std::string>& out) {
    for (const auto& row : table) {
        out.push_back(row.name);
        out.push_back(row.detail);
    }
}
}  // namespace

TEST(AlarmNames, EveryCatalogueTextHasAPrintableEnglishName) {
    std::vector<std::string> texts = {kModelCheck, dc::kFuseAlarm.name, dc::kFuseAlarm.detail};
    AddTexts(ac::kChannelAlarms, texts);
    AddTexts(ac::kScreenAlarms, texts);
    AddTexts(dc::kVoltageAlarms, texts);
    AddTexts(dc::kCatalogue, texts);
    AddTexts(rc::kModuleFault, texts);
    AddTexts(rc::kModuleAlarms, texts);
    for (const std::string& text : texts) {
        const char* english = site::EnglishText(text);
        ASSERT_NE(nullptr, english) << "no English name for " << text;
        EXPECT_NE('\0', *english) << text;
        for (const char* c = english; *c != '\0'; ++c) {
            // Printable ASCII, and no quote: the names go into discovery templates.
            EXPECT_TRUE(*c >= ' ' && *c < 0x7F && *c != '\'' && *c != '"') << english;
        }
    }
}

TEST(AlarmNames, DisplayNameTellsWhereAndWhatTheDetailAdds) {
    const struct {
        const char* name;
        std::string detail;
        const char* expected;
    } kCases[] = {
        {"交流输入电压过高告警", std::string(ac::kChannelPrefix) + "12输入线/相电压CA/C",
         "AC input voltage high (channel 12, input line/phase voltage CA/C)"},
        {"B相输入电流高于上限", "其他告警", "Phase B input current above the upper limit"},
        {"电池熔丝故障告警", std::string(dc::kFusePrefix) + "3电池熔丝故障告警", "Battery fuse fault (fuse 3)"},
        {"直流屏通讯中断告警", "直流屏通讯中断告警状态", "DC screen communication lost"},
        {"负载熔丝故障告警", "负载熔丝2故障告警", "Load fuse fault (load fuse 2 fault)"},
        {"整流模块故障告警", std::string(rc::kModulePrefix) + "4模块故障告警状态",
         "Rectifier module fault (module 4, module fault state)"},
        {kModelCheck, "本驱动类型:trm27k 检测型号:X", "Device configuration check"},
        {"未知告警", "", "未知告警"},
    };
    for (const auto& c : kCases) EXPECT_EQ(c.expected, site::EnglishName(c.name, c.detail)) << c.name;
}
