#pragma once
// The DC distribution child of the TRM27K power system.
#include <string>

#include "PMBusPowerDC.h"
#include "tele_trm27k_dc.h"

class TRM27KDC : public PMBusPowerDC<tele_c_trm27k_dc, 5176> {
public:
    // For the DC factory: an empty model text.
    TRM27KDC();
    // For the main device, which passes a copy of its device model text.
    explicit TRM27KDC(const std::string& text);
    ~TRM27KDC() override;
    // Passes the alarm catalogue (dc_alarm_catalogue.h) when the record holds
    // exactly ALERT_P_SIZE() user-defined alarm bytes, and nothing otherwise.
    void DoImpCheckAlert() override;
};

extern template class PMBusPowerDC<tele_c_trm27k_dc, 5176>;
