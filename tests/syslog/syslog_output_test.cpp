// What goes to syslog: alarm raises by their level's priority, clears,
// link and poll changes (changes only), storage failures; nothing else.
#include <gtest/gtest.h>
#include <syslog.h>

#include <mutex>

#include "site_model.h"
#include "syslog_output.h"

namespace {
site::AlarmEvent Alarm(int level, bool raised) {
    site::AlarmEvent e;
    e.rule.level = static_cast<uint8_t>(level);
    e.rule.key = "AC_6";
    e.rule.name = "交流输入电压过高告警";
    e.rule.detail = "交流屏1输入线/相电压CA/C";
    e.rule.data_id = 11;
    e.raised = raised;
    return e;
}
}  // namespace

TEST(SyslogOutput, PrioritiesFollowTheAlarmLevelAndOnlyChangesAreTold) {
    std::mutex mutex;
    std::vector<std::pair<int, std::string>> lines;
    {
        syslog_output::SyslogOutput out([&](const syslog_output::Line& l) {
            std::lock_guard<std::mutex> lock(mutex);
            lines.emplace_back(l.priority, l.text);
        });
        out.OnAlarms({Alarm(1, true), Alarm(2, true), Alarm(3, true), Alarm(4, true), Alarm(1, false)}, nullptr);
        site::SiteModel model("s");  // decides what changed
        model.AddListener(&out);
        for (const auto& [up, stalled] : {std::pair{true, false}, {true, false}, {false, false}, {true, true}, {true, false}}) {
            model.SetLink(up);
            model.SetStalled(stalled);
        }
        Json::Value failed(Json::objectValue), resumed(Json::objectValue);
        failed["state"] = "failed";
        failed["target"] = "history";
        failed["reason"] = "disk I/O error";
        resumed["state"] = "resumed";
        out.OnEvent("storage", failed);
        out.OnEvent("storage", resumed);
        out.OnEvent("cycle", failed);
        out.Stop();  // writes what waits
    }
    std::vector<int> priorities;
    for (const auto& l : lines) priorities.push_back(l.first);
    EXPECT_EQ((std::vector<int>{LOG_CRIT, LOG_ERR, LOG_WARNING, LOG_NOTICE, LOG_NOTICE,  // alarms
                                LOG_ERR, LOG_NOTICE, LOG_ERR, LOG_NOTICE,              // link and poll
                                LOG_ERR}),                                             // storage
              priorities);
    ASSERT_EQ(10u, lines.size());
    EXPECT_EQ("alarm raised, level 1: AC input voltage high (channel 1, input line/phase voltage CA/C) "
              "[交流输入电压过高告警 交流屏1输入线/相电压CA/C] data_id 11 AC_6", lines[0].second);
    EXPECT_EQ("link down", lines[5].second);
    EXPECT_EQ("poll stalled", lines[7].second);
    EXPECT_EQ("storage failed: history: disk I/O error", lines[9].second);
}
