#pragma once
// The four device factories the plug-in hands to the host, in the order main,
// AC, DC, rectifier. Each create() returns a new device the caller owns.
#include "Provider.h"

class TRM27KProvider : public SMDSPDeviceProvider {
public:
    ~TRM27KProvider() override;
    SMDSPDevice* create() const override;
};

class TRM27KACProvider : public SMDSPDeviceProvider {
public:
    ~TRM27KACProvider() override;
    SMDSPDevice* create() const override;
};

class TRM27KDCProvider : public SMDSPDeviceProvider {
public:
    ~TRM27KDCProvider() override;
    SMDSPDevice* create() const override;
};

class TRM27KRCProvider : public SMDSPDeviceProvider {
public:
    ~TRM27KRCProvider() override;
    SMDSPDevice* create() const override;
};
