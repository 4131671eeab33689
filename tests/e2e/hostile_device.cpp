// trm27k-hostile: a device that never answers properly, on a pseudo-terminal
// (its slave path is the first line of standard output), for the monitor's
// end-to-end tests. It ignores what it receives and sends, until SIGTERM:
//   noise   one byte every 50 ms, never a frame start
//   starts  frame starts and a few characters, again and again, never an end
//   long    one frame start, then characters without end (longer than any frame)
#include <poll.h>
#include <unistd.h>

#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <string>

#include "serial_port.h"

namespace {
std::atomic<bool> g_stop{false};
void OnSignal(int) { g_stop = true; }

struct Mode {
    const char* name;
    const char* first;  // sent once at the start
    const char* chunk;  // then sent every `everyMs`
    int everyMs;
};
constexpr Mode kModes[] = {
    {"noise", "", "A", 50},
    {"starts", "", "~2101", 20},
    {"long", "~", "0123456789ABCDEF0123456789ABCDEF", 10},
};

// Reads and forgets what the monitor sends, so its writes never block.
void DrainInput(int fd) {
    char sink[256];
    while (::read(fd, sink, sizeof sink) > 0) {
    }
}
}  // namespace

int main(int argc, char** argv) {
    const Mode* mode = nullptr;
    for (const Mode& m : kModes) {
        if (argc == 2 && std::strcmp(argv[1], m.name) == 0) mode = &m;
    }
    if (mode == nullptr) {
        std::fprintf(stderr, "usage: trm27k-hostile noise|starts|long\n");
        return 2;
    }
    std::signal(SIGTERM, OnSignal);
    std::signal(SIGINT, OnSignal);
    tools::PtyPair pty;
    std::string error;
    if (!tools::OpenPty(pty, error)) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return 1;
    }
    std::printf("%s\n", pty.slavePath.c_str());
    std::fflush(stdout);
    const auto send = [&](const char* text) {
        tools::WriteAll(pty.master, reinterpret_cast<const uint8_t*>(text), std::strlen(text), 0);
    };
    send(mode->first);
    while (!g_stop) {
        pollfd p{pty.master, POLLIN, 0};
        if (::poll(&p, 1, mode->everyMs) > 0) DrainInput(pty.master);
        send(mode->chunk);
    }
    tools::ClosePty(pty);
    return 0;
}
