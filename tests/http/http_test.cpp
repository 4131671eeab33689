// The HTTP output: the metrics pass promtool and leave out what the power
// system did not provide; the API answers from the model and the history;
// bad requests get 400 or 404, other methods 405; a client that stops
// mid-request holds up nobody, and many slow ones neither; the page's files come from memory with entity tags; basic
// authentication guards every path.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <httplib.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <crypt.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <thread>
#include <vector>

#include "JsonText.h"
#include "ScratchDir.h"
#include "Zone.h"
#include "SiteImages.h"
#include "history_store.h"
#include "http_server.h"
#include "metrics.h"
#include "web_assets.h"

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
// channel's frequency not provided, stored as the parsers store them; the
// first channel's phase A at the default scenario's 230.1 V), one DC screen
// and two alarm rules, one of them never active.
void Feed(site::SiteModel& model) {
    auto ac = AcImage(11, 2, 230.5f, 5.0f);
    const float scenarioVolts = 230.1f;
    std::memcpy(ac.data() + sizeof(tele_c_trm27k_ac) + offsetof(tele_c_trm27k_ac_channel, a),
                &scenarioVolts, 4);
    Put(ac, offsetof(tele_c_trm27k_ac, ib), kFillTenth);
    Put(ac, sizeof(tele_c_trm27k_ac) + sizeof(tele_c_trm27k_ac_channel) + offsetof(tele_c_trm27k_ac_channel, f),
        {0, 0, 0, 0});
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

TEST(Metrics, PassPromtoolAndLeaveOutWhatWasNotProvidedOrIsStale) {
    ASSERT_EQ(0, std::system("command -v promtool >/dev/null")) << "promtool (Debian package prometheus) is missing";
    site::SiteModel model("north");
    Feed(model);
    std::string text;
    http::RenderMetrics(*model.Current(), "0.1.0", text);
    EXPECT_EQ("exit=0\n", Promtool(text)) << text;
    EXPECT_TRUE(Has(text, "trm27k_ac_input_voltage_volts{site=\"north\",data_id=\"11\",channel=\"2\",phase=\"c\"} 230.5\n"));
    EXPECT_TRUE(Has(text, "trm27k_ac_input_frequency_hertz{site=\"north\",data_id=\"11\",channel=\"1\"} 50\n"));
    EXPECT_FALSE(Has(text, "trm27k_ac_input_frequency_hertz{site=\"north\",data_id=\"11\",channel=\"2\"}"));
    EXPECT_TRUE(Has(text, "trm27k_ac_phase_current_amperes{site=\"north\",data_id=\"11\",phase=\"a\"} 5\n"));
    EXPECT_FALSE(Has(text, "phase=\"b\"} -0.1"));
    EXPECT_TRUE(Has(text, "trm27k_dc_voltage_volts{site=\"north\",data_id=\"21\"} 53.5\n"));
    EXPECT_TRUE(Has(text, "detail=\"交流屏1 \\\"a\\\"\\\\b\"} 1\n"));
    EXPECT_FALSE(Has(text, "detail=\"交流屏2\""));
    EXPECT_TRUE(Has(text, "trm27k_alarms_active{site=\"north\",level=\"2\"} 1\n"));
    EXPECT_TRUE(Has(text, "trm27k_device_info{site=\"north\",model=\"TRM27K\"} 1\n"));
    EXPECT_TRUE(Has(text, "trm27k_cycle_duration_seconds_bucket{site=\"north\",le=\"5\"} 1\n"));
    EXPECT_TRUE(Has(text, "trm27k_cycles_total{site=\"north\"} 1\n"));
    EXPECT_TRUE(Has(text, "trm27k_up{site=\"north\"} 1\n"));
    EXPECT_TRUE(Has(text, "trm27k_build_info{version=\"0.1.0\"} 1\n"));

    // 61 s after the last cycle the values are stale: left out, their time kept.
    const site::SnapshotPtr snapshot = model.Current();
    http::RenderMetrics(*snapshot, "0.1.0", snapshot->children[1].epochMs + site::kStaleAfterMs, text);
    EXPECT_EQ("exit=0\n", Promtool(text)) << text;
    EXPECT_FALSE(Has(text, "trm27k_dc_voltage_volts{"));
    EXPECT_FALSE(Has(text, "trm27k_ac_input_frequency_hertz{"));
    EXPECT_TRUE(Has(text, "trm27k_last_update_timestamp_seconds{site=\"north\",data_id=\"21\"} "));
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
    // Numbers as people write them: the float as its shortest decimal, a
    // duration without a double's last-digit noise.
    for (const char* text : {"\"channels\":[{\"a\":230.1,", "\"cycle_seconds\":3.2,"}) {
        EXPECT_TRUE(Has(state->body, text)) << text << " in " << state->body;
    }
    EXPECT_FALSE(s["children"][0]["values"].isMember("ib"));
    const Json::Value alarms = ParseJson(client.Get("/api/alarms")->body);
    ASSERT_EQ(1u, alarms["active"].size());
    EXPECT_EQ("2026-12-09T10:00:00", alarms["active"][0]["raised"].asString());
    EXPECT_EQ("AC input voltage high (channel 1)", alarms["active"][0]["name_en"].asString());

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
                            "/api/history?data_id=99999999999&field=ia",
                            "/api/history?data_id=11&field=ia&since=0000-00-00T00:00:00",
                            "/api/history?data_id=11&field=ia&until=2026-02-29",
                            "/api/history?data_id=11&field=ia&since=2026-12-09T24:00",
                            "/api/history?data_id=11&data_id=21&field=ia"}) {
        EXPECT_EQ(400, client.Get(bad)->status) << bad;
    }
    EXPECT_EQ(200, client.Get("/api/history?data_id=11&field=ia&since=2028-02-29&until=2028-03")->status);
    EXPECT_EQ(404, client.Get("/api/history?data_id=11&field=channels.x.a")->status);
    EXPECT_EQ(404, client.Get("/api/history?data_id=11&field=nothing")->status);
    EXPECT_EQ(404, client.Get("/nothing")->status);
    auto post = client.Post("/metrics", "x", "text/plain");
    EXPECT_EQ(405, post->status);
    EXPECT_EQ("GET, HEAD", post->get_header_value("Allow"));
    auto head = client.Head("/app.js");
    EXPECT_EQ(200, head->status);
    EXPECT_TRUE(head->body.empty());
    EXPECT_EQ(std::to_string(client.Get("/app.js")->body.size()), head->get_header_value("Content-Length"));
    auto metrics = client.Get("/metrics");
    EXPECT_EQ(200, metrics->status);
    EXPECT_TRUE(Has(metrics->body, "trm27k_dc_current_amperes{site=\"north\",data_id=\"21\"} 12\n"));
    ::close(slow);
    server.Stop();
    std::remove(db.c_str());
}

namespace {
// A history with one AC image every 20 s over five minutes and two alarm events.
std::string TrendHistory() {
    const std::string db = "/tmp/trm27k-http-trend-" + std::to_string(getpid()) + ".db";
    std::remove(db.c_str());
    history::HistoryStore store;
    std::string error;
    EXPECT_TRUE(store.Open(db, error)) << error;
    history::Batch batch;
    for (int k = 0; k < 15; ++k) {
        history::ImageRow row;
        char time[32];
        std::snprintf(time, sizeof time, "2026-12-09T10:%02d:%02d", k / 3, 20 * (k % 3));
        row.time = time;
        row.dataId = 11;
        row.device = "trm27k-ac";
        row.recordType = 5175;
        row.image = AcImage(11, 1, 220.0f + k, 5.0f);
        batch.images.push_back(row);
    }
    for (const char* state : {"raised", "cleared"}) {
        batch.alarms.push_back({std::string("2026-12-09T10:0") + (state[0] == 'r' ? "1" : "3") + ":00", 11,
                                "trm27k-ac", state, 2, "AC_4", "06014", "交流输入电压过高告警", "交流屏1"});
    }
    EXPECT_TRUE(store.Write(batch, error)) << error;
    return db;
}
}  // namespace

TEST(HttpServer, ServesThePageFromMemoryAndWhatItsTrendsAndAlarmsNeed) {
    // Half-hour zone: times are shown with the offset, bounds without one are local.
    const ZoneScope zone("IST-5:30");
    const std::string db = TrendHistory();
    site::SiteModel model("north");
    Feed(model);
    http::HttpSettings settings;
    settings.historyPath = db;
    http::HttpServer server(model, settings);
    // A mounted folder serves its files and nothing outside it.
    const testing_support::ScratchDir scratch("mount");
    std::filesystem::create_directory(scratch.Path() + "/site");
    std::ofstream(scratch.Path() + "/site/note.txt") << "inside";
    std::ofstream(scratch.Path() + "/secret.txt") << "outside";
    EXPECT_FALSE(server.Mount("/files", scratch.Path() + "/none"));
    ASSERT_TRUE(server.Mount("/files", scratch.Path() + "/site"));
    std::string error;
    ASSERT_TRUE(server.Start(error)) << error;
    httplib::Client client("127.0.0.1", server.Port());
    EXPECT_EQ("inside", client.Get("/files/note.txt")->body);
    for (const std::string& outside : std::vector<std::string>{"/files/../secret.txt", "/files/%2E%2E/secret.txt",
                                       "/files/" + scratch.Path() + "/secret.txt", "/files/note.txt%"}) {
        auto res = client.Get(outside);
        ASSERT_TRUE(res) << outside;
        EXPECT_NE(200, res->status) << outside;
        EXPECT_FALSE(Has(res->body, "outside")) << outside;
    }
    EXPECT_EQ(200, client.Get("/api/history?data_id=11&field=channels%2E0%2Ea&limit=1")->status);

    // Every embedded file at its path, byte for byte; "/" is the page.
    ASSERT_GE(web::kAssetCount, 5u);
    for (size_t k = 0; k < web::kAssetCount; ++k) {
        const web::Asset& asset = web::kAssets[k];
        auto res = client.Get(asset.path);
        ASSERT_TRUE(res) << asset.path;
        EXPECT_EQ(200, res->status) << asset.path;
        EXPECT_EQ(std::string(reinterpret_cast<const char*>(asset.data), asset.size), res->body) << asset.path;
        EXPECT_EQ(0u, res->get_header_value("Content-Type").find(asset.contentType)) << asset.path;
        auto again = client.Get(asset.path, {{"If-None-Match", res->get_header_value("ETag")}});
        EXPECT_EQ(304, again->status) << asset.path;
        EXPECT_TRUE(again->body.empty());
    }
    // The gzipped copies go only to a client that accepts them.
    for (const auto& [header, gzip] : std::vector<std::pair<std::string, bool>>{
             {"gzip, deflate, br", true}, {"br;q=1.0, gzip;q=0.8", true}, {"*", true},
             {"deflate, gzip;q=0", false}, {"identity", false}, {"", false}}) {
        EXPECT_EQ(gzip, web::AcceptsGzip(header)) << header;
    }
    auto page = client.Get("/");
    ASSERT_EQ(200, page->status);
    EXPECT_TRUE(Has(page->body, "<script src=\"app.js\""));
    EXPECT_EQ("default-src 'self'", page->get_header_value("Content-Security-Policy").substr(0, 18));
    EXPECT_EQ(404, client.Get("/app.jsx")->status);
    EXPECT_EQ(404, client.Get("/appxjs")->status);  // the dot is no pattern

    // The overview: the model the driver accepted, the last cycle and its age.
    const Json::Value state = ParseJson(client.Get("/api/state")->body);
    EXPECT_EQ("TRM27K", state["model"].asString());
    EXPECT_DOUBLE_EQ(3.2, state["cycle_seconds"].asDouble());
    EXPECT_GE(state["cycle_age_s"].asDouble(), 0.0);
    EXPECT_LT(state["availability_age_s"].asDouble(), 60.0);

    // Thinned for a chart: the first image of each minute.
    const Json::Value minute = ParseJson(client.Get("/api/history?data_id=11&field=channels.0.a&step=60")->body);
    ASSERT_EQ(5u, minute["rows"].size()) << minute;
    for (Json::ArrayIndex k = 0; k < 5; ++k) {
        EXPECT_EQ("2026-12-09T10:0" + std::to_string(k) + ":00+05:30", minute["rows"][k]["time"].asString());
        EXPECT_FLOAT_EQ(220.0f + 3 * k, minute["rows"][k]["value"].asFloat());
    }
    const Json::Value since = ParseJson(
        client.Get("/api/history?data_id=11&field=channels.0.a&step=120&since=2026-12-09T10:01:20")->body);
    ASSERT_EQ(3u, since["rows"].size()) << since;  // slices cut at even minutes
    EXPECT_EQ("2026-12-09T10:01:20+05:30", since["rows"][0]["time"].asString());
    EXPECT_EQ("2026-12-09T10:02:00+05:30", since["rows"][1]["time"].asString());
    EXPECT_EQ("2026-12-09T10:04:00+05:30", since["rows"][2]["time"].asString());
    // The same instant in UTC or with its offset bounds the same rows; a bad zone is refused.
    for (const char* bound : {"2026-12-09T04:31:20Z", "2026-12-09T10:01:20%2B05:30"}) {
        const Json::Value same = ParseJson(client.Get(
            std::string("/api/history?data_id=11&field=channels.0.a&step=120&since=") + bound)->body);
        EXPECT_EQ(since["rows"], same["rows"]) << bound;
    }
    EXPECT_EQ(400, client.Get("/api/history?data_id=11&field=ia&since=2026-12-09T10:01:20%2B5")->status);
    EXPECT_EQ(400, client.Get("/api/history?data_id=11&field=ia&since=2026-12-0")->status);
    EXPECT_EQ(400, client.Get("/api/history?data_id=11&field=ia&step=-1")->status);
    EXPECT_EQ(400, client.Get("/api/history?data_id=11&field=ia&step=86401")->status);

    // The recent raises and clears, newest first, beside the active alarms.
    const Json::Value alarms = ParseJson(client.Get("/api/alarms")->body);
    ASSERT_EQ(2u, alarms["recent"].size());
    EXPECT_EQ("cleared", alarms["recent"][0]["state"].asString());
    EXPECT_EQ("2026-12-09T10:01:00+05:30", alarms["recent"][1]["time"].asString());
    EXPECT_EQ("交流输入电压过高告警", alarms["recent"][1]["name"].asString());
    EXPECT_EQ("AC input voltage high (channel 1)", alarms["recent"][1]["name_en"].asString());
    server.Stop();
    std::remove(db.c_str());
}

TEST(HttpServer, BasicAuthenticationGuardsEveryPath) {
    EXPECT_NE("", http::PasswordHashProblem("hunter2"));
    EXPECT_NE("", http::PasswordHashProblem("$1$abc$xyz"));   // a method too weak to accept
    EXPECT_NE("", http::PasswordHashProblem("$6$saltsalt$"));  // a setting, no hash
    char setting[CRYPT_GENSALT_OUTPUT_SIZE];
    ASSERT_NE(nullptr, crypt_gensalt_rn("$y$", 0, nullptr, 0, setting, sizeof setting));
    crypt_data data{};
    const std::string hash = crypt_r("correct horse", setting, &data);
    EXPECT_EQ("", http::PasswordHashProblem(hash));

    site::SiteModel model("north");
    Feed(model);
    http::HttpSettings settings;
    settings.authUser = "engineer";
    settings.authHash = hash;
    http::HttpServer server(model, settings);
    std::string error;
    ASSERT_TRUE(server.Start(error)) << error;
    httplib::Client client("127.0.0.1", server.Port());
    const std::vector<std::string> paths = {"/", "/app.js", "/metrics", "/api/state", "/api/history?data_id=1&field=v",
                                            "/nothing"};
    for (const std::string& path : paths) {
        auto res = client.Get(path.c_str());
        ASSERT_TRUE(res) << path;
        EXPECT_EQ(401, res->status) << path;
        EXPECT_EQ(0u, res->get_header_value("WWW-Authenticate").find("Basic realm=")) << path;
        EXPECT_FALSE(Has(res->body, "trm27k_")) << path;
    }
    const std::vector<std::pair<std::string, std::string>> refused = {
        {"engineer", "wrong"}, {"Engineer", "correct horse"}, {"engineer", "correct horse "}, {"", ""}};
    for (const auto& [user, password] : refused) {
        httplib::Client other("127.0.0.1", server.Port());
        other.set_basic_auth(user.c_str(), password.c_str());
        EXPECT_EQ(401, other.Get("/api/state")->status) << user << ":" << password;
    }
    for (const char* header : {"Basic", "Basic !!!!", "Basic ZW5naW5lZXI=", "Bearer x", "Basic ZW5n=W5l"}) {
        EXPECT_EQ(401, client.Get("/api/state", {{"Authorization", header}})->status) << header;
    }
    client.set_basic_auth("engineer", "correct horse");
    for (int round = 0; round < 2; ++round) {  // the second round is answered from the accepted header
        EXPECT_EQ(200, client.Get("/")->status);
        EXPECT_EQ(200, client.Get("/metrics")->status);
        EXPECT_EQ(404, client.Get("/nothing")->status);
    }
    server.Stop();
}

namespace {
// A client on its own loopback address (any of 127/8) that sends a request a
// few bytes at a time.
class TrickleClient {
public:
    TrickleClient(const std::string& from, int port) : fd_(::socket(AF_INET, SOCK_STREAM, 0)) {
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        ::inet_pton(AF_INET, from.c_str(), &addr.sin_addr);
        connected_ = ::bind(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
        addr.sin_port = htons(static_cast<uint16_t>(port));
        ::inet_pton(AF_INET, "127.0.0.1", &addr.sin_addr);
        connected_ = connected_ && ::connect(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
    }
    ~TrickleClient() { ::close(fd_); }
    TrickleClient(const TrickleClient&) = delete;
    TrickleClient& operator=(const TrickleClient&) = delete;

    bool Connected() const { return connected_; }
    bool Send(const std::string& bytes) { return ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL) > 0; }
    // The answer's first line, read within a few seconds.
    std::string StatusLine() {
        std::string text;
        char c;
        pollfd p{fd_, POLLIN, 0};
        while (text.size() < 64 && ::poll(&p, 1, 5000) == 1 && ::recv(fd_, &c, 1, 0) == 1 && c != '\r') text += c;
        return text;
    }
    // True once the server has closed the connection, within `bound`; what
    // it answered before is read and dropped.
    bool ClosedWithin(std::chrono::milliseconds bound) {
        const auto end = std::chrono::steady_clock::now() + bound;
        for (auto left = bound; left.count() > 0;
             left = std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now())) {
            pollfd p{fd_, POLLIN, 0};
            if (::poll(&p, 1, static_cast<int>(left.count())) <= 0) return false;
            char buffer[512];
            if (::recv(fd_, buffer, sizeof buffer, 0) <= 0) return true;
        }
        return false;
    }

private:
    int fd_;
    bool connected_ = false;
};

bool WaitFor(const std::function<bool()>& done) {
    for (int k = 0; k < 1000 && !done(); ++k) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    return done();
}
}  // namespace

TEST(HttpServer, SlowClientsHoldUpNobodyAndAreCappedAndTimedOut) {
    site::SiteModel model("north");
    Feed(model);
    http::HttpSettings settings;
    settings.timeoutSeconds = 120;  // the slow clients outlast the test
    settings.maxPerAddress = 4;
    settings.maxConnections = 201;  // the slow ones and one more
    http::HttpServer server(model, settings);
    std::string error;
    ASSERT_TRUE(server.Start(error)) << error;

    // 200 clients from 50 addresses, each holding the start of a request.
    std::vector<std::unique_ptr<TrickleClient>> slow;
    for (int k = 0; k < 200; ++k) {
        slow.push_back(std::make_unique<TrickleClient>("127.0.1." + std::to_string(1 + k / 4), server.Port()));
        ASSERT_TRUE(slow.back()->Connected()) << k;
        ASSERT_TRUE(slow.back()->Send("GET /metrics HTTP/1.1\r\n"));
    }
    ASSERT_TRUE(WaitFor([&] { return server.OpenConnections() == 200; })) << server.OpenConnections();
    TrickleClient fifth("127.0.1.1", server.Port());
    EXPECT_TRUE(fifth.ClosedWithin(std::chrono::seconds(10)));
    for (auto& client : slow) ASSERT_TRUE(client->Send("Host: x\r\nX-Slow: 1"));

    httplib::Client client("127.0.0.1", server.Port());
    client.set_read_timeout(10, 0);
    client.set_keep_alive(true);
    const auto asked = std::chrono::steady_clock::now();
    auto metrics = client.Get("/metrics");
    const auto took = std::chrono::steady_clock::now() - asked;
    ASSERT_TRUE(metrics);
    EXPECT_EQ(200, metrics->status);
    EXPECT_LT(took, std::chrono::seconds(1));
    ASSERT_EQ(201, server.OpenConnections());  // the answered client keeps its connection
    TrickleClient pastTotal("127.0.2.1", server.Port());
    ASSERT_TRUE(pastTotal.Connected());
    EXPECT_TRUE(pastTotal.ClosedWithin(std::chrono::seconds(10)));
    server.Stop();

    // The request time is for the whole request: a client that never pauses
    // for long but never finishes is closed when it runs out.
    settings.timeoutSeconds = 1;
    http::HttpServer strict(model, settings);
    ASSERT_TRUE(strict.Start(error)) << error;
    for (const auto& [request, answer] : std::vector<std::pair<std::string, std::string>>{
             {"GET /metrics HTTP/1.1\r\nNo colon\r\n\r\n", "HTTP/1.1 400 Bad Request"},
             {"GET /metrics HTTP/1.1\r\nX: " + std::string(20000, 'x') + "\r\n\r\n",
              "HTTP/1.1 431 Request Header Fields Too Large"}}) {
        TrickleClient bad("127.0.0.1", strict.Port());
        ASSERT_TRUE(bad.Send(request));
        EXPECT_EQ(answer, bad.StatusLine());
        EXPECT_TRUE(bad.ClosedWithin(std::chrono::seconds(10)));
    }
    TrickleClient trickle("127.0.0.1", strict.Port());
    const auto opened = std::chrono::steady_clock::now();
    ASSERT_TRUE(trickle.Send("GET /metrics HTTP/1.1\r\nX-Slow: "));
    bool closed = false;
    for (int k = 0; k < 100 && !closed; ++k) {
        closed = !trickle.Send("a") || trickle.ClosedWithin(std::chrono::milliseconds(100));
    }
    EXPECT_TRUE(closed);
    EXPECT_GE(std::chrono::steady_clock::now() - opened, std::chrono::milliseconds(900));
}
