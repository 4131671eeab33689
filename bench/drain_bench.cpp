// trm27k-drain: the outbox's drain rate to a broker. Fills an outbox with
// COUNT state messages of the reference size (about 3 kB, an AC screen with
// three channels) while no broker is named, then starts the MQTT output
// against the broker on PORT and times until the outbox is empty.
//   trm27k-drain PORT COUNT DATABASE
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>

#include "mqtt_output.h"

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: trm27k-drain PORT COUNT DATABASE\n");
        return 2;
    }
    const int count = std::atoi(argv[2]);
    std::string error;
    {
        mqtt::Outbox box;
        if (!box.Open(argv[3], 1ull << 30, error)) {
            std::fprintf(stderr, "%s\n", error.c_str());
            return 1;
        }
        std::vector<mqtt::Message> batch;
        for (int k = 0; k < count; ++k) {
            batch.push_back({mqtt::Kind::State, "trm27k/drain/11/state", std::string(3000, 'x'), true});
            if (batch.size() == 100 || k + 1 == count) {
                box.Append(batch, static_cast<uint64_t>(k));
                batch.clear();
            }
        }
    }
    site::SiteModel model("drain");
    mqtt::MqttSettings settings;
    settings.host = "127.0.0.1";
    settings.port = std::atoi(argv[1]);
    settings.site = "drain";
    settings.discovery = false;
    settings.outboxMaxMb = 1024;
    mqtt::MqttOutput output(model, settings, "bench");
    const auto start = std::chrono::steady_clock::now();
    if (!output.Start(argv[3], error)) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return 1;
    }
    while (model.Current()->outboxMessages > 0 || output.GetStats().acknowledged < static_cast<uint64_t>(count)) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
        if (std::chrono::steady_clock::now() - start > std::chrono::minutes(5)) return 1;
    }
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("drained %d messages in %.2f s: %.0f messages/s\n", count, seconds, count / seconds);
    output.Stop();
    return 0;
}
