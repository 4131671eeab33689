// The event file: one valid JSON object a line, whatever bytes devices send.
#include <gtest/gtest.h>

#include <fstream>

#include "JsonText.h"
#include "ScratchDir.h"
#include "event_log.h"
#include "hex_text.h"

namespace {
std::vector<std::string> Lines(const std::string& path) {
    std::vector<std::string> lines;
    std::ifstream in(path);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}
}  // namespace

TEST(EventLog, EachEventIsOneLineWithEventAndTime) {
    const testing_support::ScratchDir scratch("event-log");
    const std::string path = scratch.Path() + "/events.jsonl";
    {
        events::EventLog log;
        std::string error;
        ASSERT_TRUE(log.Open(path, error));
        Json::Value v(Json::objectValue);
        v["text"] = "交流屏1\nsecond line";
        log.Write("log", v);
        log.Write("cycle", Json::Value(Json::objectValue));
    }
    const auto lines = Lines(path);
    ASSERT_EQ(2u, lines.size());
    const Json::Value first = testing_support::ParseJson(lines[0]);
    EXPECT_EQ("log", first["event"].asString());
    EXPECT_EQ("交流屏1\nsecond line", first["text"].asString());
    EXPECT_EQ(25u, first["time"].asString().size());  // 2026-12-08T16:05:09+01:00
    EXPECT_NE(std::string::npos, lines[0].find("交流屏1"));  // readable, not escaped
}

TEST(EventLog, BytesThatAreNotUtf8BecomeReplacementCharacters) {
    const testing_support::ScratchDir scratch("event-bad");
    const std::string path = scratch.Path() + "/events.jsonl";
    {
        events::EventLog log;
        std::string error;
        ASSERT_TRUE(log.Open(path, error));
        Json::Value v(Json::objectValue);
        v["raw"] = std::string("TRM\xFF\xC0\x80\xED\xA0\x80\xE4\xBA", 12) + "27K";
        log.Write("frame_error", v);
    }
    const auto lines = Lines(path);
    ASSERT_EQ(1u, lines.size());
    Json::CharReaderBuilder builder;
    builder["failIfExtra"] = true;
    std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
    Json::Value v;
    std::string errors;
    ASSERT_TRUE(reader->parse(lines[0].data(), lines[0].data() + lines[0].size(), &v, &errors));
    const std::string raw = v["raw"].asString();
    EXPECT_EQ(0u, raw.find("TRM"));
    EXPECT_NE(std::string::npos, raw.find("\xEF\xBF\xBD"));
    EXPECT_EQ(raw.size() - 3, raw.rfind("27K"));
}

TEST(EventLog, HexTextIsUppercase) {
    const uint8_t bytes[3] = {0x0B, 0xAF, 0x00};
    EXPECT_EQ("0BAF00", site::HexText(bytes, 3));
}
