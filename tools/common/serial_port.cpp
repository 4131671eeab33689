#include "serial_port.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <thread>

namespace tools {

namespace {

struct BaudRow {
    int baud;
    speed_t speed;
};

// The rates a serial line of this kind is run at.
constexpr std::array<BaudRow, 8> kBaudRates = {{
    {1200, B1200},
    {2400, B2400},
    {4800, B4800},
    {9600, B9600},
    {19200, B19200},
    {38400, B38400},
    {57600, B57600},
    {115200, B115200},
}};

bool SpeedFor(int baud, speed_t& speed) {
    for (const BaudRow& row : kBaudRates) {
        if (row.baud == baud) {
            speed = row.speed;
            return true;
        }
    }
    return false;
}

std::string Reason(const std::string& what) {
    return what + ": " + std::strerror(errno);
}

// Raw mode: no line editing, no echo, no CR/LF translation, no signals from
// bytes, one byte is enough for a read to return.
bool MakeRaw(int fd, std::string& error) {
    termios tio{};
    if (tcgetattr(fd, &tio) != 0) {
        error = Reason("tcgetattr");
        return false;
    }
    cfmakeraw(&tio);
    tio.c_cc[VMIN] = 1;
    tio.c_cc[VTIME] = 0;
    if (tcsetattr(fd, TCSANOW, &tio) != 0) {
        error = Reason("tcsetattr");
        return false;
    }
    return true;
}

// 8 data bits, no parity, one stop bit, no hardware or software flow control.
bool SetLine(int fd, speed_t speed, std::string& error) {
    termios tio{};
    if (tcgetattr(fd, &tio) != 0) {
        error = Reason("tcgetattr");
        return false;
    }
    cfmakeraw(&tio);
    tio.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | CSTOPB | CRTSCTS);
    tio.c_cflag |= CS8 | CLOCAL | CREAD;
    tio.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | IXANY);
    tio.c_cc[VMIN] = 1;
    tio.c_cc[VTIME] = 0;
    if (cfsetispeed(&tio, speed) != 0 || cfsetospeed(&tio, speed) != 0) {
        error = Reason("cfsetspeed");
        return false;
    }
    if (tcsetattr(fd, TCSANOW, &tio) != 0) {
        error = Reason("tcsetattr");
        return false;
    }
    return true;
}

bool WaitWritable(int fd) {
    pollfd p{fd, POLLOUT, 0};
    while (true) {
        const int n = ::poll(&p, 1, 1000);
        if (n > 0) return (p.revents & (POLLERR | POLLNVAL)) == 0;
        if (n < 0 && errno != EINTR) return false;
    }
}

// Writes one chunk whole; false when the descriptor fails.
bool WriteChunk(int fd, const uint8_t* data, size_t n) {
    size_t done = 0;
    while (done < n) {
        const ssize_t w = ::write(fd, data + done, n - done);
        if (w > 0) {
            done += static_cast<size_t>(w);
        } else if (w < 0 && errno == EINTR) {
            continue;
        } else if (w < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            if (!WaitWritable(fd)) return false;
        } else {
            return false;
        }
    }
    return true;
}

}  // namespace

bool ConfigureSerialLine(int fd, int baud, std::string& error) {
    speed_t speed{};
    if (!SpeedFor(baud, speed)) {
        error = "unsupported baud rate " + std::to_string(baud);
        return false;
    }
    return SetLine(fd, speed, error);
}

int OpenSerialPort(const std::string& path, int baud, std::string& error, bool* busy) {
    if (busy != nullptr) *busy = false;
    speed_t speed{};
    if (!SpeedFor(baud, speed)) {
        error = "unsupported baud rate " + std::to_string(baud);
        return -1;
    }
    const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        if (errno == EBUSY && busy != nullptr) *busy = true;  // TIOCEXCL of another holder
        error = errno == EBUSY ? "the port " + path + " is busy: another program has it open"
                               : Reason("cannot open " + path);
        return -1;
    }
    if (!isatty(fd)) {
        error = path + " is not a serial line";
        ::close(fd);
        return -1;
    }
    // Two pollers on one line each take the other's replies: the second one
    // is refused. The lock goes with the descriptor, also when the program dies.
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        if (busy != nullptr) *busy = errno == EWOULDBLOCK;
        error = errno == EWOULDBLOCK ? "the port " + path + " is busy: another program has it open"
                                     : Reason("cannot lock " + path);
        ::close(fd);
        return -1;
    }
    ::ioctl(fd, TIOCEXCL);
    if (!SetLine(fd, speed, error)) {
        error = path + ": " + error;
        CloseSerialPort(fd);
        return -1;
    }
    tcflush(fd, TCIOFLUSH);  // bytes left from before the open belong to nobody
    return fd;
}

void CloseSerialPort(int fd) {
    if (fd < 0) return;
    ::ioctl(fd, TIOCNXCL);  // the tty may outlive this descriptor (a pty's other side)
    ::close(fd);
}

bool OpenPty(PtyPair& out, std::string& error) {
    PtyPair pair;
    pair.master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (pair.master < 0) {
        error = Reason("posix_openpt");
        return false;
    }
    const char* name = nullptr;
    if (grantpt(pair.master) != 0 || unlockpt(pair.master) != 0 ||
        (name = ptsname(pair.master)) == nullptr) {
        error = Reason("pty setup");
        ClosePty(pair);
        return false;
    }
    pair.slavePath = name;
    pair.slave = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (pair.slave < 0) {
        error = Reason("cannot open " + pair.slavePath);
        ClosePty(pair);
        return false;
    }
    if (!MakeRaw(pair.slave, error) || !MakeRaw(pair.master, error)) {
        ClosePty(pair);
        return false;
    }
    const int flags = fcntl(pair.master, F_GETFL);
    if (flags < 0 || fcntl(pair.master, F_SETFL, flags | O_NONBLOCK) != 0) {
        error = Reason("fcntl");
        ClosePty(pair);
        return false;
    }
    out = pair;
    return true;
}

void ClosePty(PtyPair& pair) {
    if (pair.slave >= 0) ::close(pair.slave);
    if (pair.master >= 0) ::close(pair.master);
    pair = PtyPair();
}

constexpr double kDeliveryMs = 16;  // how often a paced line hands over what it received

bool WriteAll(int fd, const uint8_t* data, size_t n, int pacedBaud, const std::atomic<bool>* stop) {
    if (pacedBaud <= 0) return WriteChunk(fd, data, n);
    // A serial adapter hands the receiver what it got every few milliseconds
    // (a USB adapter's latency timer, a UART's FIFO): each chunk is written
    // once its last byte would have arrived, against deadlines measured from
    // the start, so the time spent writing does not add up over a long reply.
    using Clock = std::chrono::steady_clock;
    const double secondsPerByte = 10.0 / pacedBaud;
    const size_t chunk = std::max<size_t>(1, static_cast<size_t>(kDeliveryMs / 1000.0 / secondsPerByte));
    const auto start = Clock::now();
    for (size_t done = 0; done < n && (stop == nullptr || !*stop);) {
        const size_t len = std::min(chunk, n - done);
        const auto due = start + std::chrono::duration_cast<Clock::duration>(
                                     std::chrono::duration<double>((done + len) * secondsPerByte));
        std::this_thread::sleep_until(due);
        if (!WriteChunk(fd, data + done, len)) return false;
        done += len;
    }
    return true;
}

}  // namespace tools
