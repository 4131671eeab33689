#include "rule_json.h"

namespace site {

Json::Value RuleJson(const rule_value& rule) {
    Json::Value v(Json::objectValue);
    v["data_id"] = rule.data_id;
    v["key"] = rule.key;
    v["code"] = rule.code;
    v["name"] = rule.name;
    v["detail"] = rule.detail;
    v["level"] = rule.level;
    return v;
}

}  // namespace site
