#pragma once
// The monitor's built-in power system: the simulator on its own thread,
// serving the master side of a pseudo-terminal pair whose slave side the
// monitor opens as its serial line.
#include <atomic>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "serial_port.h"
#include "simulator.h"

namespace monitor {

class BuiltinSimulator {
public:
    ~BuiltinSimulator() { Stop(); }
    // Takes the scenario in `scenarioFile` instead of the default one;
    // false with the reason when the file does not load.
    bool LoadScenario(const std::string& scenarioFile, std::string& error);
    // Starts, paced at 9600 baud when `pace`, answering `addresses` (empty:
    // the scenario's). `slavePath` is the line to open.
    bool Start(bool pace, const std::vector<uint8_t>& addresses, std::string& slavePath, std::string& error);
    void Stop();

private:
    tools::PtyPair pty_;
    std::unique_ptr<sim::Simulator> sim_ = std::make_unique<sim::Simulator>();
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

}  // namespace monitor
