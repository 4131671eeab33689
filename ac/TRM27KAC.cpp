#include "TRM27KAC.h"

template class PMBusPowerAC<tele_c_trm27k_ac, tele_c_trm27k_ac_channel, 5175>;

TRM27KAC::TRM27KAC() { deviceType_ = "trm27k-ac"; }
TRM27KAC::~TRM27KAC() = default;
