#include "providers.h"

#include "TRM27K.h"

// A constructor that throws releases the memory itself (new-expression rules)
// and the exception passes on to the host.
TRM27KProvider::~TRM27KProvider() = default;
SMDSPDevice* TRM27KProvider::create() const { return new TRM27K(); }

TRM27KACProvider::~TRM27KACProvider() = default;
SMDSPDevice* TRM27KACProvider::create() const { return new TRM27KAC(); }

TRM27KDCProvider::~TRM27KDCProvider() = default;
SMDSPDevice* TRM27KDCProvider::create() const { return new TRM27KDC(); }

TRM27KRCProvider::~TRM27KRCProvider() = default;
SMDSPDevice* TRM27KRCProvider::create() const { return new TRM27KRC(); }
