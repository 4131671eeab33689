#pragma once
// A service manager's notify socket for tests: a unix datagram socket in a
// private folder, named in NOTIFY_SOCKET for the code under test, removed at
// the end.
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#include <string>

namespace testing_support {

class NotifySocket {
public:
    NotifySocket() {
        char dir[] = "/tmp/trm27k-notify-XXXXXX";
        dir_ = ::mkdtemp(dir) != nullptr ? dir : "";
        path_ = dir_ + "/notify";
        fd_ = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        sockaddr_un addr{};
        addr.sun_family = AF_UNIX;
        std::strncpy(addr.sun_path, path_.c_str(), sizeof addr.sun_path - 1);
        bound_ = ::bind(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
    }
    ~NotifySocket() {
        ::close(fd_);
        ::unlink(path_.c_str());
        ::rmdir(dir_.c_str());
    }
    bool Bound() const { return bound_; }
    const std::string& Path() const { return path_; }
    // The next datagram, waiting up to `waitMs` for one; "" when none came.
    std::string Next(int waitMs = 0) {
        pollfd p{fd_, POLLIN, 0};
        if (::poll(&p, 1, waitMs) <= 0) return "";
        char buffer[1024];
        const ssize_t n = ::recv(fd_, buffer, sizeof buffer, 0);
        return n > 0 ? std::string(buffer, static_cast<size_t>(n)) : "";
    }

private:
    std::string dir_, path_;
    int fd_ = -1;
    bool bound_ = false;
};

}  // namespace testing_support
