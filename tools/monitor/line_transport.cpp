#include "line_transport.h"

#include <termios.h>

#include <cerrno>
#include <cstring>

#include "serial_port.h"

namespace monitor {

void LineTransport::Attach(int fd) {
    fd_ = fd;
    failed_ = false;
    reason_.clear();
    held_.clear();
}

bool LineTransport::Write(const uint8_t* bytes, size_t count) {
    if (hold_) {
        held_.assign(reinterpret_cast<const char*>(bytes), count);
        return true;
    }
    return WriteNow(bytes, count);
}

void LineTransport::DiscardInput() {
    if (fd_ >= 0) ::tcflush(fd_, TCIFLUSH);
}

bool LineTransport::WriteHeld() {
    if (held_.empty()) return true;
    DiscardInput();
    const std::string command = std::move(held_);
    held_.clear();
    return WriteNow(reinterpret_cast<const uint8_t*>(command.data()), command.size());
}

bool LineTransport::WriteNow(const uint8_t* bytes, size_t count) {
    if (fd_ < 0 || failed_) return false;
    lastWrite_ = Clock::now();
    ++writes_;
    if (tools::WriteAll(fd_, bytes, count, 0)) return true;
    failed_ = true;
    reason_ = std::string("write failed: ") + std::strerror(errno);
    return false;
}

}  // namespace monitor
