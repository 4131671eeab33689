#include "TRM27K.h"

template class PMBusPower<TRM27KAC, TRM27KDC, TRM27KRC>;

TRM27K::TRM27K() : PMBusPower({"TRM27K"}) {
    deviceType_ = "trm27k";
    baudRate_ = 9600;
    setting_ = 1;
    version_ = 0x21;
}

TRM27K::~TRM27K() = default;
