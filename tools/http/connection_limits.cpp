#include "connection_limits.h"

namespace http {

bool ConnectionLimits::Take(const boost::asio::ip::address& from) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (open_ >= total_) return false;
    const auto it = byAddress_.find(from);
    if (it != byAddress_.end() && it->second >= perAddress_) return false;
    if (it == byAddress_.end() && perAddress_ < 1) return false;
    ++byAddress_[from];
    ++open_;
    return true;
}

void ConnectionLimits::Give(const boost::asio::ip::address& from) {
    std::lock_guard<std::mutex> lock(mutex_);
    const auto it = byAddress_.find(from);
    if (it == byAddress_.end()) return;
    --open_;
    if (--it->second == 0) byAddress_.erase(it);
}

int ConnectionLimits::Open() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return open_;
}

}  // namespace http
