// The HTTP output: the metrics pass promtool and leave out what the power
// system did not provide; the API answers from the model and the history;
// bad requests get 400 or 404; a client that stops mid-request holds up
// nobody.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <httplib.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>

#include "JsonText.h"
#include "ScratchDir.h"
#include "SiteImages.h"
#include "history_store.h"
#include "http_server.h"
#include "metrics.h"

using namespace testing_support;

namespace {
rule_value Rule(const char* detail, bool active) {
    rule_value r;
    r.level = 2;
    r.key = "AC_4";
    r.code = "06014";
    r.name = "交流输入电压过高告警";
    r.detail = detail;
    r.active = active ? 1 : 0;
    r.data_id = 11;
    return r;
}

// A site with one AC screen of two channels (phase B current and the second
// channel's frequency not provided), one DC screen and two alarm rules.
void Feed(site::SiteModel& model) {
    auto ac = AcImage(11, 2, 230.5f, 5.0f);
    Put(ac, offsetof(tele_c_trm27k_ac, ib), kFillTenth);
    Put(ac, sizeof(tele_c_trm27k_ac) + sizeof(tele_c_trm27k_ac_channel) + offsetof(tele_c_trm27k_ac_channel, f),
        kMarker);
    const auto dc = DcImage(21, 53.5f, 12.0f);
    model.OnRecord(11, "trm27k-ac", 5175, ac.data(), ac.size(), "2026-12-09T10:00:00");
    model.OnRecord(21, "trm27k-dc", 5176, dc.data(), dc.size(), "2026-12-09T10:00:00");
    model.OnRules({Rule("交流屏1 \"a\"\\b", true), Rule("交流屏2", false)}, "2026-12-09T10:00:00");
    model.SetLink(true);
    model.OnCycleEnd(3.2, "2026-12-09T10:00:01");
}

// promtool's verdict on an exposition: empty when it passes.
std::string Promtool(const std::string& text) {
    const testing_support::ScratchDir scratch("metrics");
    const std::string path = scratch.Path() + "/metrics.txt";
    std::ofstream(path) << text;
    std::FILE* p = ::popen(("promtool check metrics < " + path + " 2>&1; echo \"exit=$?\"").c_str(), "r");
    std::string out;
    char buffer[256];
    while (p != nullptr && std::fgets(buffer, sizeof buffer, p) != nullptr) out += buffer;
    if (p != nullptr) ::pclose(p);
    std::remove(path.c_str());
    return out;
}

bool Has(const std::string& text, const std::string& line) { return text.find(line) != std::string::npos; }
}  // namespace

TEST(Metrics, PassPromtoolAndLeaveOutWhatWasNotProvided) {
    ASSERT_EQ(0, std::system("command -v promtool >/dev/null")) << "promtool (Debian package prometheus) is missing";
    site::SiteModel model("north");
    Feed(model);
    std::string text;
    http::RenderMetrics(*model.Current(), "0.1.0", text);
    EXPECT_EQ("exit=0\n", Promtool(text)) << text;
    EXPECT_TRUE(Has(text, "trm27k_ac_input_voltage_volts{site=\"north\",data_id=\"11\",channel=\"1\",phase=\"c\"} 230.5\n"));
    EXPECT_TRUE(Has(text, "trm27k_ac_input_frequency_hertz{site=\"north\",data_id=\"11\",channel=\"0\"} 50\n"));
    EXPECT_FALSE(Has(text, "trm27k_ac_input_frequency_hertz{site=\"north\",data_id=\"11\",channel=\"1\"}"));
    EXPECT_TRUE(Has(text, "trm27k_ac_phase_current_amperes{site=\"north\",data_id=\"11\",phase=\"a\"} 5\n"));
    EXPECT_FALSE(Has(text, "phase=\"b\"} -0.1"));
    EXPECT_TRUE(Has(text, "trm27k_dc_voltage_volts{site=\"north\",data_id=\"21\"} 53.5\n"));
    EXPECT_TRUE(Has(text, "detail=\"交流屏1 \\\"a\\\"\\\\b\"} 1\n"));
    EXPECT_TRUE(Has(text, "detail=\"交流屏2\"} 0\n"));
    EXPECT_TRUE(Has(text, "trm27k_cycle_duration_seconds_bucket{site=\"north\",le=\"5\"} 1\n"));
    EXPECT_TRUE(Has(text, "trm27k_cycles_total{site=\"north\"} 1\n"));
    EXPECT_TRUE(Has(text, "trm27k_up{site=\"north\"} 1\n"));
    EXPECT_TRUE(Has(text, "trm27k_build_info{version=\"0.1.0\"} 1\n"));
}

TEST(HttpServer, AnswersFromTheModelAndTheHistoryAndRefusesBadRequests) {
    const testing_support::ScratchDir scratch("http");
    const std::string db = scratch.Path() + "/history.db";
    {
        history::HistoryStore store;
        std::string error;
        ASSERT_TRUE(store.Open(db, error)) << error;
        history::Batch batch;
        for (int k = 0; k < 3; ++k) {
            history::ImageRow row;
            row.time = "2026-12-09T10:00:0" + std::to_string(k);
            row.dataId = 11;
            row.device = "trm27k-ac";
            row.recordType = 5175;
            row.image = AcImage(11, 2, 230.0f + k, 5.0f);
            batch.images.push_back(row);
        }
        ASSERT_TRUE(store.Write(batch, error)) << error;
    }
    site::SiteModel model("north");
    Feed(model);
    http::HttpSettings settings;
    settings.historyPath = db;
    settings.historyRows = 2;
    settings.timeoutSeconds = 30;  // the stalled client below outlasts the test
    http::HttpServer server(model, settings);
    std::string error;
    ASSERT_TRUE(server.Start(error)) << error;

    // A client that sends half a request and then nothing.
    const int slow = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<uint16_t>(server.Port()));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(0, ::connect(slow, reinterpret_cast<sockaddr*>(&addr), sizeof addr));
    ASSERT_GT(::send(slow, "GET /metr", 9, 0), 0);

    httplib::Client client("127.0.0.1", server.Port());
    client.set_read_timeout(5, 0);
    auto state = client.Get("/api/state");
    ASSERT_TRUE(state);
    EXPECT_EQ(200, state->status);
    const Json::Value s = ParseJson(state->body);
    EXPECT_EQ(1u, s["seq"].asUInt64());
    EXPECT_EQ(2u, s["children"].size());
    EXPECT_FLOAT_EQ(230.5f, s["children"][0]["values"]["channels"][1]["a"].asFloat());
    EXPECT_FALSE(s["children"][0]["values"].isMember("ib"));
    const Json::Value alarms = ParseJson(client.Get("/api/alarms")->body);
    ASSERT_EQ(1u, alarms["active"].size());
    EXPECT_EQ("2026-12-09T10:00:00", alarms["active"][0]["raised"].asString());

    auto history = client.Get("/api/history?data_id=11&field=channels.1.a&since=2026-12-09T10:00:01");
    ASSERT_EQ(200, history->status);
    const Json::Value h = ParseJson(history->body);
    ASSERT_EQ(2u, h["rows"].size());
    EXPECT_FLOAT_EQ(231.0f, h["rows"][0]["value"].asFloat());
    EXPECT_EQ("V", h["unit"].asString());
    EXPECT_TRUE(ParseJson(client.Get("/api/history?data_id=11&field=ia&limit=1")->body)["rows"][0]["value"].isDouble());

    for (const char* bad : {"/api/history?field=a", "/api/history?data_id=x1&field=a",
                            "/api/history?data_id=11&field=a&since=yesterday",
                            "/api/history?data_id=11&field=ia&limit=3",
                            "/api/history?data_id=99999999999&field=ia"}) {
        EXPECT_EQ(400, client.Get(bad)->status) << bad;
    }
    EXPECT_EQ(404, client.Get("/api/history?data_id=11&field=channels.x.a")->status);
    EXPECT_EQ(404, client.Get("/api/history?data_id=11&field=nothing")->status);
    EXPECT_EQ(404, client.Get("/nothing")->status);
    auto metrics = client.Get("/metrics");
    EXPECT_EQ(200, metrics->status);
    EXPECT_TRUE(Has(metrics->body, "trm27k_dc_current_amperes{site=\"north\",data_id=\"21\"} 12\n"));
    ::close(slow);
    server.Stop();
    std::remove(db.c_str());
}
