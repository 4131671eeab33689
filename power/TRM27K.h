#pragma once
// The main device of the TRM27K power system.
#include "PMBusPower.h"
#include "TRM27KAC.h"
#include "TRM27KDC.h"
#include "TRM27KRC.h"

class TRM27K : public PMBusPower<TRM27KAC, TRM27KDC, TRM27KRC> {
public:
    TRM27K();
    ~TRM27K() override;
};

extern template class PMBusPower<TRM27KAC, TRM27KDC, TRM27KRC>;
