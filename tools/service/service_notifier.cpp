#include "service_notifier.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstdlib>
#include <cstring>

namespace service {

// systemd's notify protocol, which its manual keeps stable for programs that
// speak it themselves: one datagram to the unix socket NOTIFY_SOCKET names
// ("@..." in the abstract namespace), and the watchdog interval in
// WATCHDOG_USEC when WATCHDOG_PID is unset or this process. Spoken here
// rather than through libsystemd, which with the compression and crypto
// libraries it loads costs 0.8 MB of resident memory for these two calls.
namespace {
bool ParseWhole(const char* text, unsigned long long& out) {
    if (text == nullptr || *text < '0' || *text > '9') return false;
    char* end = nullptr;
    errno = 0;
    out = std::strtoull(text, &end, 10);
    return errno == 0 && *end == '\0';
}

bool WatchdogUsec(uint64_t& usec) {
    unsigned long long value = 0, pid = 0;
    if (!ParseWhole(std::getenv("WATCHDOG_USEC"), value) || value == 0) return false;
    const char* pidText = std::getenv("WATCHDOG_PID");
    if (pidText != nullptr && (!ParseWhole(pidText, pid) || pid != static_cast<unsigned long long>(getpid()))) {
        return false;
    }
    usec = value;
    return true;
}

void SendDatagram(const char* socketName, const std::string& state) {
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    const size_t length = std::strlen(socketName);
    if (length == 0 || length >= sizeof addr.sun_path) return;
    std::memcpy(addr.sun_path, socketName, length);
    if (addr.sun_path[0] == '@') addr.sun_path[0] = '\0';
    const int fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return;
    (void)::sendto(fd, state.data(), state.size(), MSG_NOSIGNAL, reinterpret_cast<const sockaddr*>(&addr),
                   static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + length));
    ::close(fd);
}
}  // namespace

ServiceNotifier::ServiceNotifier() {
    const char* socket = std::getenv("NOTIFY_SOCKET");
    active_ = socket != nullptr && *socket != '\0';
    if (!active_) return;
    uint64_t usec = 0;
    // Positive only when WATCHDOG_USEC is set and WATCHDOG_PID, if present, is us.
    if (WatchdogUsec(usec)) watchdog_ = std::chrono::microseconds(usec);
}

void ServiceNotifier::Ready(const std::string& status) {
    Send("READY=1\nSTATUS=" + status);
}

void ServiceNotifier::Status(const std::string& status) { Send("STATUS=" + status); }

void ServiceNotifier::Progress(Clock::time_point now) {
    if (!active_ || watchdog_ == Clock::duration::zero()) return;
    // systemd asks for a keep-alive at least every half interval; a quarter
    // leaves room for one slow exchange.
    if (watchdogSent_ > 0 && now - lastKeepAlive_ < watchdog_ / 4) return;
    lastKeepAlive_ = now;
    ++watchdogSent_;
    Send("WATCHDOG=1");
}

void ServiceNotifier::Stopping() { Send("STOPPING=1\nSTATUS=stopping"); }

// A datagram to the manager's socket; a lost one is not worth failing the
// poll over, so the result is ignored.
void ServiceNotifier::Send(const std::string& state) const {
    if (active_) SendDatagram(std::getenv("NOTIFY_SOCKET"), state);
}

}  // namespace service
