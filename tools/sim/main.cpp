// trm27k-sim: a simulated TRM27K power system on a pseudo-terminal or a
// serial line, for the monitor's demo and end-to-end tests. See README.md.
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <csignal>
#include <cstdio>
#include <fstream>
#include <string>

#include "scenario_json.h"
#include "serial_port.h"
#include "sim_loop.h"
#include "sim_options.h"
#include "simulator.h"

namespace {

std::atomic<bool> g_stop{false};
std::atomic<bool> g_reload{false};
static_assert(std::atomic<bool>::is_always_lock_free, "flags are set from signal handlers");

void OnStopSignal(int) {
    g_stop = true;
}
void OnHangup(int) {
    g_reload = true;
}

// No SA_RESTART: a signal interrupts the loop's poll so the stop is seen at once.
void InstallSignals() {
    struct sigaction stopAction {};
    stopAction.sa_handler = OnStopSignal;
    sigemptyset(&stopAction.sa_mask);
    sigaction(SIGINT, &stopAction, nullptr);
    sigaction(SIGTERM, &stopAction, nullptr);
    struct sigaction hupAction = stopAction;
    hupAction.sa_handler = OnHangup;
    sigaction(SIGHUP, &hupAction, nullptr);
    std::signal(SIGPIPE, SIG_IGN);  // a closed line shows as a failed write instead
}

int Fail(int status, const std::string& reason) {
    std::fprintf(stderr, "trm27k-sim: %s\n", reason.c_str());
    return status;
}

// Reloads the scenario file when it changes (another file renamed over it
// included) or on SIGHUP. A file that does not load leaves the scenario as it was.
class ScenarioWatcher {
public:
    ScenarioWatcher(std::string path, sim::Simulator& sim) : path_(std::move(path)), sim_(sim) {}

    bool Load(std::string& error) {
        stamp_ = StampOf();
        sim::Scenario scenario;
        return sim::LoadScenarioFile(path_, scenario, error) && sim_.SetScenario(scenario, error);
    }
    void Poll() {
        const bool asked = g_reload.exchange(false);
        if (path_.empty() || (!asked && StampOf() == stamp_)) return;
        std::string error;
        if (Load(error)) {
            std::fprintf(stderr, "trm27k-sim: scenario reloaded from %s\n", path_.c_str());
        } else {
            std::fprintf(stderr, "trm27k-sim: scenario kept, %s\n", error.c_str());
        }
    }

private:
    std::string StampOf() const {
        struct stat st {};
        if (::stat(path_.c_str(), &st) != 0) return "";
        return std::to_string(st.st_ino) + ":" + std::to_string(st.st_size) + ":" +
               std::to_string(st.st_mtim.tv_sec) + "." + std::to_string(st.st_mtim.tv_nsec);
    }

    std::string path_;
    sim::Simulator& sim_;
    std::string stamp_;
};

// Opens the line the options name; for a pseudo-terminal, prints its slave
// path as the first line of standard output.
bool OpenLine(const sim::SimOptions& options, tools::PtyPair& pty, int& fd, std::string& error) {
    if (!options.pty) {
        fd = tools::OpenSerialPort(options.port, sim::kLineBaud, error);
        return fd >= 0;
    }
    if (!tools::OpenPty(pty, error)) return false;
    fd = pty.master;
    std::printf("%s\n", pty.slavePath.c_str());
    std::fflush(stdout);
    return true;
}

bool WriteStats(const std::string& path, const sim::SimStats& stats) {
    std::ofstream out(path, std::ios::trunc);
    out << sim::StatsJson(stats);
    return static_cast<bool>(out.flush());
}

}  // namespace

int main(int argc, char** argv) {
    sim::SimOptions options;
    const cli::Outcome parsed = sim::ParseSimOptions(argc, argv, options);
    if (!parsed.run) return cli::Finish("trm27k-sim", parsed);
    std::string error;
    sim::Simulator simulator(options.faults);
    simulator.SetAddresses(options.addresses);
    ScenarioWatcher watcher(options.scenarioFile, simulator);
    if (!options.scenarioFile.empty() && !watcher.Load(error)) return Fail(2, error);
    InstallSignals();
    tools::PtyPair pty;
    int fd = -1;
    if (!OpenLine(options, pty, fd, error)) return Fail(1, error);

    sim::LoopOptions loop;
    loop.pacedBaud = options.pace ? sim::kLineBaud : 0;
    loop.onWake = [&watcher] { watcher.Poll(); };
    const sim::LoopEnd end = sim::RunSimulatorLoop(fd, simulator, loop, g_stop);
    if (options.pty) {
        tools::ClosePty(pty);
    } else {
        ::close(fd);
    }
    if (!options.statsFile.empty() && !WriteStats(options.statsFile, simulator.Stats())) {
        return Fail(1, "cannot write " + options.statsFile);
    }
    if (end == sim::LoopEnd::LineClosed) return Fail(1, "the line closed");
    if (end == sim::LoopEnd::WriteFailed) return Fail(1, "a reply could not be written");
    return 0;
}
