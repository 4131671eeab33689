#include "discovery_marker.h"

#include <unistd.h>

namespace mqtt {

namespace {
// The broker sends a retained message right behind the subscription's
// acknowledgement; three seconds after it (room for a lost segment sent
// again on a slow link), silence means there is none.
constexpr auto kAfterSubscribed = std::chrono::seconds(3);
// A subscription never acknowledged (the connection about to fail) does not
// hold the discovery back for longer than this.
constexpr auto kAfterConnect = std::chrono::seconds(10);
}  // namespace

DiscoveryMarker::DiscoveryMarker() {
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::system_clock::now().time_since_epoch());
    process_ = std::to_string(ms.count()) + "-" + std::to_string(::getpid());
}

std::string DiscoveryMarker::Completed(const Configs& configs) {
    token_ = process_ + "-" + std::to_string(++passes_);
    confirmed_ = configs;
    return token_;
}

void DiscoveryMarker::Connected(Clock::time_point now) {
    heard_.reset();
    subscribedAt_.reset();
    connectedAt_ = now;
}

DiscoveryMarker::Answer DiscoveryMarker::Judge(Clock::time_point now) const {
    if (token_.empty()) return Answer::Lost;  // nothing sent yet: everything goes
    if (heard_) return *heard_ == token_ ? Answer::Kept : Answer::Lost;
    if (subscribedAt_ && now - *subscribedAt_ >= kAfterSubscribed) return Answer::Lost;
    return now - connectedAt_ >= kAfterConnect ? Answer::Lost : Answer::Waiting;
}

}  // namespace mqtt
