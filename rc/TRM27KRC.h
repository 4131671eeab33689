#pragma once
// The rectifier child of the TRM27K power system.
#include "PMBusPowerRC.h"
#include "tele_trm27k_rc.h"

class TRM27KRC : public PMBusPowerRC<tele_c_trm27k_rc, tele_c_trm27k_rc_channel, 5177> {
public:
    TRM27KRC();
    ~TRM27KRC() override;
    // The module alarm catalogue, for every module with all 18 alarm bytes.
    void DoImpCheckAlert() override;
};

extern template class PMBusPowerRC<tele_c_trm27k_rc, tele_c_trm27k_rc_channel, 5177>;
