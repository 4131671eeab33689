#include "builtin_sim.h"

#include <pthread.h>

#include "scenario_json.h"
#include "sim_loop.h"

namespace monitor {

bool BuiltinSimulator::LoadScenario(const std::string& scenarioFile, std::string& error) {
    sim::Scenario scenario = sim::DefaultScenario();
    return sim::LoadScenarioFile(scenarioFile, scenario, error) &&
           sim_->SetScenario(scenario, error);
}

bool BuiltinSimulator::Start(bool pace, const std::vector<uint8_t>& addresses, std::string& slavePath,
                             std::string& error) {
    if (!tools::OpenPty(pty_, error)) return false;
    sim_->SetAddresses(addresses);
    slavePath = pty_.slavePath;
    sim::LoopOptions options;
    options.pacedBaud = pace ? 9600 : 0;
    thread_ = std::thread([this, options] {
        // The fleet bench finds the simulated power systems by this name.
        pthread_setname_np(pthread_self(), "sim");
        sim::RunSimulatorLoop(pty_.master, *sim_, options, stop_);
    });
    return true;
}

void BuiltinSimulator::Stop() {
    if (!thread_.joinable()) return;
    stop_ = true;
    thread_.join();
    tools::ClosePty(pty_);
}

}  // namespace monitor
