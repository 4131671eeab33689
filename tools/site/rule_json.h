#pragma once
// An alarm rule as the outputs show it to their readers (the MQTT alarm
// messages, the JSON API): data id, level, key, code, name and detail.
#include <json/json.h>

#include "rule_value.h"

namespace site {

Json::Value RuleJson(const rule_value& rule);

}  // namespace site
