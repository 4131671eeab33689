#pragma once
// Whether the broker still holds this process's discovery configs after a
// reconnect. Each discovery pass that sent something ends with a retained
// marker whose token names that pass; after a reconnect the marker is read
// back. The same token means the broker kept every config sent before it
// (they went ahead of it on one connection), so only what changed since goes
// out again; another token, or none within three seconds of the
// subscription's acknowledgement, means a broker that lost its retained
// messages, and every config goes out again. A reconnect then costs the
// values' refresh (under 2 kB) instead of the whole discovery (about 238 kB),
// which matters on a link billed by the megabyte that drops its connection a
// few times a day.
#include <chrono>
#include <cstdint>
#include <map>
#include <optional>
#include <string>

namespace mqtt {

class DiscoveryMarker {
public:
    using Clock = std::chrono::steady_clock;
    using Configs = std::map<std::string, std::string>;  // config topic -> payload
    enum class Answer { Waiting, Kept, Lost };

    DiscoveryMarker();
    // A pass sent `configs` complete: the marker's payload, to be published
    // retained after them. Once the broker has it, it holds `configs`.
    std::string Completed(const Configs& configs);
    // A new connection: nothing heard from the broker yet.
    void Connected(Clock::time_point now);
    // The retained marker the broker holds, and the subscription's acknowledgement.
    void Heard(const std::string& payload) { heard_ = payload; }
    void Subscribed(Clock::time_point now) { subscribedAt_ = now; }
    // Kept: KeptConfigs() is what the broker holds. Lost: it holds nothing of ours.
    Answer Judge(Clock::time_point now) const;
    const Configs& KeptConfigs() const { return confirmed_; }

private:
    std::string process_;  // tells this process's tokens from an earlier run's
    uint64_t passes_ = 0;
    std::string token_;    // of the last marker, empty before the first
    Configs confirmed_;    // what the broker holds once it has that marker
    std::optional<std::string> heard_;
    Clock::time_point connectedAt_{};
    std::optional<Clock::time_point> subscribedAt_;
};

}  // namespace mqtt
