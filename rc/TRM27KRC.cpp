#include "TRM27KRC.h"

template class PMBusPowerRC<tele_c_trm27k_rc, tele_c_trm27k_rc_channel, 5177>;

TRM27KRC::TRM27KRC() {
    deviceType_ = "trm27k-rc";
}
TRM27KRC::~TRM27KRC() = default;

// A module whose last alarm reply did not carry all 18 alarm bytes (or that
// no alarm reply has covered yet) has no valid alarm data: it is left out
// and does not advance the sequence number.
void TRM27KRC::DoImpCheckAlert() {
    for (size_t k = 0; k < channels.size(); ++k) {
        if (channels[k].alarm_p != tele_c_trm27k_rc_channel::P41_44_SIZE()) continue;
        PassModuleRules(channels[k], k, rc::kModuleAlarms);
    }
}
