#include "model_probe.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>

#include "pmbus_frame.h"
#include "serial_port.h"

namespace scan {

namespace {

using Clock = std::chrono::steady_clock;

constexpr uint8_t kVersion = 0x21;  // the protocol version byte the device speaks
constexpr uint8_t kModelCid1 = 0x40;
constexpr uint8_t kModelCid2 = 0x51;
constexpr int kModelLength = 20;
// '~', VER ADR CID1 RTN LENGTH (12), the model text (40), CHKSUM (4), CR.
constexpr int kModelReplyChars = 1 + 12 + 2 * kModelLength + 4 + 1;

std::string Reason(const std::string& what) { return what + ": " + std::strerror(errno); }

long MsLeft(Clock::time_point deadline) {
    return std::max<long>(0, std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count());
}

// Writes the whole command unless the deadline passes first.
bool WriteBounded(int fd, const std::string& bytes, Clock::time_point deadline) {
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n > 0) {
            done += static_cast<size_t>(n);
            continue;
        }
        if (n < 0 && errno != EAGAIN && errno != EINTR) return false;
        pollfd p{fd, POLLOUT, 0};
        if (::poll(&p, 1, static_cast<int>(MsLeft(deadline))) <= 0) return false;
    }
    return true;
}

// Control and non-ASCII bytes from the line are shown, never printed raw.
std::string Printable(const std::vector<uint8_t>& info) {
    const size_t n = std::min<size_t>(info.size(), kModelLength);
    size_t end = n;
    while (end > 0 && (info[end - 1] == 0 || info[end - 1] == ' ')) --end;
    std::string text;
    for (size_t i = 0; i < end; ++i) {
        const uint8_t b = info[i];
        if (b >= 0x20 && b < 0x7f && b != '\\') {
            text += static_cast<char>(b);
        } else {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\x%02X", b);
            text += escaped;
        }
    }
    return text;
}

// Takes one frame body: true when it settles the probe.
bool TakeFrame(const char* body, size_t length, const std::string& command, uint8_t address,
               ProbeResult& result) {
    if (command.compare(1, length, body, length) == 0 && command.size() == length + 2) {
        return false;  // our own command, echoed by the adapter
    }
    host::DecodedFrame frame;
    if (host::DecodeFrame(body, length, frame) != host::FrameError::None) {
        ++result.frameErrors;
        return false;
    }
    if (frame.adr != address || frame.cid1 != kModelCid1) return false;
    result.rtn = frame.cid2;
    result.outcome = frame.cid2 == 0 ? ProbeOutcome::Model : ProbeOutcome::Refused;
    if (frame.cid2 == 0) result.model = Printable(frame.info);
    return true;
}

}  // namespace

int ProbeDeadlineMs(const ProbeTiming& timing) {
    const int lineMs = (kModelReplyChars * 10 * 1000 + timing.baud - 1) / timing.baud;
    return timing.firstByteMs + lineMs + timing.gapMs;
}

int OpenForProbe(const std::string& path, int baud, std::string& error) {
    // Non-blocking open: a port without carrier must not hold the scan.
    const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        error = Reason("cannot open " + path);
        return -1;
    }
    if (!isatty(fd)) {
        error = path + " is not a serial line";
    } else if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        error = path + " is in use by another program";
    } else if (tools::ConfigureSerialLine(fd, baud, error)) {
        return fd;
    }
    ::close(fd);
    return -1;
}

ProbeResult ProbeModel(int fd, uint8_t address, const ProbeTiming& timing) {
    ProbeResult result;
    std::string command;
    host::EncodeFrame(kVersion, address, kModelCid1, kModelCid2, nullptr, 0, command);
    const auto start = Clock::now();
    const auto deadline = start + std::chrono::milliseconds(ProbeDeadlineMs(timing));
    ::tcflush(fd, TCIFLUSH);  // what came before the command answers nothing
    if (!WriteBounded(fd, command, deadline)) {
        result.outcome = ProbeOutcome::LineError;
        result.error = Reason("write");
    }
    host::FrameReceiver receiver;
    bool settled = result.outcome == ProbeOutcome::LineError;
    while (!settled && MsLeft(deadline) > 0) {
        pollfd p{fd, POLLIN, 0};
        const int ready = ::poll(&p, 1, static_cast<int>(MsLeft(deadline)));
        if (ready < 0 && errno == EINTR) continue;
        if (ready <= 0) break;
        uint8_t buffer[256];
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && (errno == EAGAIN || errno == EINTR)) continue;
        if (n <= 0) {
            result.outcome = ProbeOutcome::LineError;
            result.error = n == 0 ? "hang-up" : Reason("read");
            break;
        }
        receiver.Feed(buffer, static_cast<size_t>(n),
                      [&](const char* body, size_t length) {
                          settled = settled || TakeFrame(body, length, command, address, result);
                      },
                      [&] { ++result.frameErrors; });
    }
    result.waitedMs = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
    return result;
}

}  // namespace scan
