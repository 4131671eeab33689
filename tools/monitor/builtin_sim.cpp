#include "builtin_sim.h"

#include "scenario_json.h"
#include "sim_loop.h"

namespace monitor {

bool BuiltinSimulator::Start(const std::string& scenarioFile, bool pace, std::string& slavePath,
                             std::string& error) {
    sim_ = std::make_unique<sim::Simulator>();
    if (!scenarioFile.empty()) {
        sim::Scenario scenario = sim::DefaultScenario();
        if (!sim::LoadScenarioFile(scenarioFile, scenario, error)) return false;
        if (!sim_->SetScenario(scenario, error)) return false;
    }
    if (!tools::OpenPty(pty_, error)) return false;
    slavePath = pty_.slavePath;
    sim::LoopOptions options;
    options.pacedBaud = pace ? 9600 : 0;
    thread_ = std::thread([this, options] {
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
