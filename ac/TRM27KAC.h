#pragma once
// The AC distribution child of the TRM27K power system.
#include "PMBusPowerAC.h"
#include "tele_trm27k_ac.h"

class TRM27KAC : public PMBusPowerAC<tele_c_trm27k_ac, tele_c_trm27k_ac_channel, 5175> {
public:
    TRM27KAC();
    ~TRM27KAC() override;
    // This model adds no alarms of its own.
    void DoImpCheckAlert() override {}
};

extern template class PMBusPowerAC<tele_c_trm27k_ac, tele_c_trm27k_ac_channel, 5175>;
