// CPU of the northbound work per poll cycle of the reference site (2 AC
// screens of 3 channels, 2 DC screens, 4 rectifier modules): feeding the site
// model (on the poll thread), building every MQTT message of a cycle in the
// worst case (every state changed, plus the active alarms), and rendering
// /metrics.
#include <benchmark/benchmark.h>

#include <cstring>

#include "messages.h"
#include "metrics.h"
#include "site_model.h"

namespace {

template <class Record>
void Append(std::vector<uint8_t>& image, const Record& r) {
    const auto* bytes = reinterpret_cast<const uint8_t*>(&r);
    image.insert(image.end(), bytes, bytes + sizeof(Record));
}

struct Image {
    unsigned int dataId;
    const char* device;
    int type;
    std::vector<uint8_t> bytes;
};

std::vector<Image> ReferenceImages() {
    std::vector<Image> out;
    for (unsigned int id : {11u, 12u}) {
        tele_c_trm27k_ac ac{};
        ac.id = id;
        ac.ia = ac.ib = ac.ic = 12.5f;
        ac.channel_count = 3;
        Image image{id, "trm27k-ac", 5175, {}};
        Append(image.bytes, ac);
        for (int k = 0; k < 3; ++k) {
            tele_c_trm27k_ac_channel ch{};
            ch.a = ch.b = ch.c = 230.0f;
            ch.f = 50.0f;
            Append(image.bytes, ch);
        }
        out.push_back(std::move(image));
    }
    for (unsigned int id : {21u, 22u}) {
        tele_c_trm27k_dc dc{};
        dc.id = id;
        dc.v = 53.5f;
        dc.i = 20.0f;
        Image image{id, "trm27k-dc", 5176, {}};
        Append(image.bytes, dc);
        out.push_back(std::move(image));
    }
    tele_c_trm27k_rc rc{};
    rc.channel_count = 4;
    Image image{1, "trm27k-rc", 5177, {}};
    Append(image.bytes, rc);
    for (int k = 0; k < 4; ++k) Append(image.bytes, tele_c_trm27k_rc_channel{});
    out.push_back(std::move(image));
    return out;
}

// The model after one cycle with 40 rules seen, 2 of them active.
void FeedCycle(site::SiteModel& model, const std::vector<Image>& images) {
    for (const Image& i : images) model.OnRecord(i.dataId, i.device, i.type, i.bytes.data(), i.bytes.size(), "t");
    model.OnCycleEnd(2.0, "2026-12-09T10:00:00");
}

site::SiteModel& ReferenceModel() {
    static site::SiteModel model("bench");
    static bool fed = false;
    if (!fed) {
        FeedCycle(model, ReferenceImages());
        std::vector<rule_value> rules(40);
        for (size_t k = 0; k < rules.size(); ++k) {
            rules[k].key = "AC_" + std::to_string(k);
            rules[k].code = "06014";
            rules[k].name = "交流输入电压过高告警";
            rules[k].detail = "交流屏1输入线/相电压AB/A";
            rules[k].data_id = 11;
            rules[k].active = k < 2;
        }
        model.OnRules(rules, "2026-12-09T10:00:00");
        fed = true;
    }
    return model;
}

void BM_ModelFeedCycle(benchmark::State& state) {
    site::SiteModel model("bench");
    const auto images = ReferenceImages();
    for (auto _ : state) FeedCycle(model, images);
}
BENCHMARK(BM_ModelFeedCycle);

void BM_MqttMessagesPerCycle(benchmark::State& state) {
    const auto snapshot = ReferenceModel().Current();
    mqtt::MqttSettings settings;
    size_t bytes = 0;
    for (auto _ : state) {
        for (const site::ChildState& child : snapshot->children) {
            bytes += mqtt::StateMessage(settings, child, 0).payload.size();
        }
        bytes += mqtt::AlarmsMessage(settings, *snapshot).payload.size();
    }
    state.counters["bytes_per_cycle"] = static_cast<double>(bytes) / static_cast<double>(state.iterations());
}
BENCHMARK(BM_MqttMessagesPerCycle);

void BM_RenderMetrics(benchmark::State& state) {
    const auto snapshot = ReferenceModel().Current();
    std::string text;
    for (auto _ : state) {
        http::RenderMetrics(*snapshot, "0.1.0", text);
        benchmark::DoNotOptimize(text.data());
    }
    state.counters["bytes"] = static_cast<double>(text.size());
}
BENCHMARK(BM_RenderMetrics);

}  // namespace
