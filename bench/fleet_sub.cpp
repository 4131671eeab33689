// trm27k-fleet-sub: subscribes to every state and alarm of a fleet on one
// broker for a given time and reports messages per second and the delay from
// the end of each state's cycle ("cycle_ms") to delivery, p50 and p99.
//   trm27k-fleet-sub PORT SECONDS
#include <mosquitto.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <json/json.h>

namespace {
std::mutex g_mutex;
std::vector<double> g_delaysMs;
long g_messages = 0;

int64_t NowMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::system_clock::now().time_since_epoch()).count();
}

void OnMessage(mosquitto*, void*, const mosquitto_message* m) {
    const int64_t now = NowMs();
    if (m->retain) return;  // a state from before the run
    Json::Value v;
    Json::CharReaderBuilder builder;
    std::string errors;
    std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
    const auto* text = static_cast<const char*>(m->payload);
    const bool parsed = reader->parse(text, text + m->payloadlen, &v, &errors);
    std::lock_guard<std::mutex> lock(g_mutex);
    ++g_messages;
    if (parsed && v.isObject() && v["cycle_ms"].isInt64()) {
        g_delaysMs.push_back(static_cast<double>(now - v["cycle_ms"].asInt64()));
    }
}

double Percentile(std::vector<double>& v, double p) {
    if (v.empty()) return 0;
    std::sort(v.begin(), v.end());
    return v[static_cast<size_t>(p * static_cast<double>(v.size() - 1))];
}
}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: trm27k-fleet-sub PORT SECONDS\n");
        return 2;
    }
    mosquitto_lib_init();
    mosquitto* client = mosquitto_new(nullptr, true, nullptr);
    mosquitto_message_callback_set(client, OnMessage);
    if (mosquitto_connect(client, "127.0.0.1", std::atoi(argv[1]), 30) != MOSQ_ERR_SUCCESS) {
        std::fprintf(stderr, "trm27k-fleet-sub: cannot connect\n");
        return 1;
    }
    mosquitto_subscribe(client, nullptr, "trm27k/+/+/state", 0);
    mosquitto_subscribe(client, nullptr, "trm27k/+/alarm", 0);
    mosquitto_loop_start(client);
    const int seconds = std::atoi(argv[2]);
    std::this_thread::sleep_for(std::chrono::seconds(seconds));
    mosquitto_disconnect(client);
    mosquitto_loop_stop(client, false);
    std::lock_guard<std::mutex> lock(g_mutex);
    std::printf("messages %ld\nmessages_per_second %.1f\ndelay_ms_p50 %.0f\ndelay_ms_p99 %.0f\n", g_messages,
                static_cast<double>(g_messages) / seconds, Percentile(g_delaysMs, 0.5),
                Percentile(g_delaysMs, 0.99));
    return 0;
}
