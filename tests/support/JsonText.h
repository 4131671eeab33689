#pragma once
// JSON configuration from text, for tests.
#include <string>

#include <json/json.h>

namespace testing_support {

inline Json::Value ParseJson(const std::string& text) {
    Json::Value v;
    Json::CharReaderBuilder builder;
    std::string errors;
    std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
    reader->parse(text.data(), text.data() + text.size(), &v, &errors);
    return v;
}

}  // namespace testing_support
