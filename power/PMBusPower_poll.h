#pragma once
// Starting and repeating commands. Included from PMBusPower.h.
#include "ttime.h"

template <class AC, class DC, class RC>
bool PMBusPower<AC, DC, RC>::RefreshStatus() {
    // Without a rectifier child the configuration failed: never poll.
    if (!rcDevice_) return false;
    if (!PMBusProtocol::RefreshStatus()) return false;
    // A negative age means the clock was set back; waiting for it to catch
    // up would stall the poll, so it counts as old enough.
    const int64_t age = host_seconds_since(updateTime_);
    if (age >= 0 && age < 2 && !checkModel_) {
        idle_ = 0;
        return false;
    }
    if (checkModel_) {
        SendStep(power::kModelStep);
    } else if (step_ != 0) {
        // Repeats the step's command, the parameter queries included, so a
        // lost or refused reply never stalls the poll.
        if (power::FindStep(step_) != nullptr) SendStep(step_);
    } else {
        SendStep(acDevices_.empty() ? 4 : 0);
    }
    return true;
}

// Sets the step, then sends its command exactly as the step table says.
template <class AC, class DC, class RC>
void PMBusPower<AC, DC, RC>::SendStep(int step) {
    const power::PollStep* row = power::FindStep(step);
    if (row == nullptr) return;
    step_ = step;
    const bool group = row->info == power::Info::CommandGroup ||
                       (row->info == power::Info::CommandGroupIfV21 && version_ == 0x21);
    if (group) {
        write_pmbus_cmd(row->cid1, row->cid2, &commandGroup_, 1);
    } else {
        write_pmbus_cmd(row->cid1, row->cid2);
    }
}

// Sends the step that follows an accepted reply at `from`, or ends the cycle.
template <class AC, class DC, class RC>
bool PMBusPower<AC, DC, RC>::SendNext(int from, uint8_t dcFlag) {
    const power::PollState state{dataReady_, !acDevices_.empty(), !dcDevices_.empty(),
                                 acDataFlag_, rcDataFlag_, dcFlag};
    const int next = power::NextStep(from, state);
    if (next == power::kEndOfCycle) return EndCycle();
    SendStep(next);
    return true;
}

template <class AC, class DC, class RC>
bool PMBusPower<AC, DC, RC>::EndCycle() {
    for (const auto& ac : acDevices_) ac->RoundDone();
    for (const auto& dc : dcDevices_) dc->RoundDone();
    rcDevice_->RoundDone();
    step_ = 0;
    Reset();
    return false;
}
