#pragma once
// How many connections the server holds, in all and per client address. A
// client that would pass either cap is not taken, so a few clients that
// open many connections (or hold them with slow requests) leave room for
// the others. Counted under a lock: a connection may end on the worker.
#include <boost/asio/ip/address.hpp>

#include <map>
#include <mutex>

namespace http {

class ConnectionLimits {
public:
    ConnectionLimits(int total, int perAddress) : total_(total), perAddress_(perAddress) {}

    // True, and counted, when one more connection from `from` fits.
    bool Take(const boost::asio::ip::address& from);
    void Give(const boost::asio::ip::address& from);
    int Open() const;

private:
    const int total_;
    const int perAddress_;
    mutable std::mutex mutex_;
    int open_ = 0;
    std::map<boost::asio::ip::address, int> byAddress_;  // only addresses with a connection open
};

}  // namespace http
