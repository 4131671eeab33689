// trm27k-monitor: the reference host. Loads the plug-in, configures the main
// device, restores history and polls a TRM27K over a serial line, or the
// built-in simulator on a pseudo-terminal when no port is given.
#include <malloc.h>

#include <csignal>
#include <cstdio>
#include <iostream>

#include "monitor_app.h"
#include "options.h"
#include "scan_command.h"

namespace {
std::atomic<bool> g_stop{false};
void OnSignal(int) { g_stop = true; }
}  // namespace

int main(int argc, char** argv) {
    // Every thread allocates from the one heap: the output threads allocate
    // little and seldom, and a malloc arena of their own each would hold
    // about half a megabyte of a small board's memory for nothing.
    mallopt(M_ARENA_MAX, 1);
    monitor::Options options;
    const cli::Outcome parsed = monitor::ParseOptions(argc, argv, options);
    if (!parsed.run) return cli::Finish("trm27k-monitor", parsed);
    if (options.scan) return monitor::RunPortScan(options, stdout);
    struct sigaction action {};
    action.sa_handler = OnSignal;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    // SIGHUP reopens the event file (after an external logrotate moved it).
    struct sigaction hangup {};
    hangup.sa_handler = [](int) { events::EventLog::RequestReopen(); };
    sigaction(SIGHUP, &hangup, nullptr);
    std::signal(SIGPIPE, SIG_IGN);
    // A write past the file size limit fails like one on a full disk, and is
    // handled as one, instead of killing the monitor.
    std::signal(SIGXFSZ, SIG_IGN);
    monitor::MonitorApp app(options);
    return app.Run(g_stop);
}
