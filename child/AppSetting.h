#pragma once
// The "appSetting" object of a child's configuration entry: the change
// thresholds "diff_v" and "diff_i". A value is taken in its text form (a
// number gives its decimal text) and converted like atof, so a text without a
// leading number gives 0. A value without a text form (array, object) makes
// the JSON library throw; the caller lets that pass.
#include <cstdlib>

#include <json/json.h>

namespace child {

inline void ReadThreshold(const Json::Value& appSetting, const char* key, float& out) {
    const Json::Value& value = appSetting[key];
    if (value.isNull()) return;
    out = static_cast<float>(std::atof(value.asString().c_str()));
}

inline void ReadAppSetting(const Json::Value& entry, float& diffV, float& diffI) {
    if (!entry.isObject()) return;
    const Json::Value& app = entry["appSetting"];
    if (app.isNull() || !app.isObject()) return;
    ReadThreshold(app, "diff_v", diffV);
    ReadThreshold(app, "diff_i", diffI);
}

}  // namespace child
