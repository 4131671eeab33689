#include "alarm_names.h"

#include <cctype>

#include "alarm_name_table.h"

namespace site {

namespace {
// What the children put before a detail, followed by a 1-based number: the
// AC channel, the DC fuse, the rectifier module.
constexpr AlarmNameRow kDetailPrefixes[] = {
    {"交流屏", "channel"},
    {"直流", "fuse"},
    {"模块", "module"},
};

// The detail that only says "other alarm" adds nothing to a specific name.
constexpr const char* kOtherAlarm = "其他告警";

struct Detail {
    std::string where;  // "channel 2", or empty
    std::string rest;   // the detail after the prefix and its number
};

Detail SplitDetail(const std::string& detail) {
    for (const AlarmNameRow& prefix : kDetailPrefixes) {
        const std::string text = prefix.text;
        if (detail.compare(0, text.size(), text) != 0) continue;
        size_t end = text.size();
        while (end < detail.size() && std::isdigit(static_cast<unsigned char>(detail[end])) != 0) ++end;
        if (end == text.size()) continue;  // "直流屏...": a word, not a prefix
        return {std::string(prefix.english) + " " + detail.substr(text.size(), end - text.size()),
                detail.substr(end)};
    }
    return {"", detail};
}
}  // namespace

const char* EnglishText(const std::string& text) {
    for (const AlarmNameRow& row : kAlarmNames) {
        if (text == row.text) return row.english;
    }
    return nullptr;
}

std::string EnglishName(const std::string& name, const std::string& detail) {
    const char* english = EnglishText(name);
    std::string out = english != nullptr ? english : name;
    const Detail d = SplitDetail(detail);
    const char* rest = d.rest == kOtherAlarm ? nullptr : EnglishText(d.rest);
    std::string more = d.where;
    if (rest != nullptr && out != rest) more += (more.empty() ? "" : ", ") + std::string(rest);
    return more.empty() ? out : out + " (" + more + ")";
}

}  // namespace site
