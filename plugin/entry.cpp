// The plug-in's one exported symbol.
#include "providers.h"

extern "C" __attribute__((visibility("default"))) ProviderList get_providers() {
    ProviderList providers;
    providers.push_back(std::make_shared<TRM27KProvider>());
    providers.push_back(std::make_shared<TRM27KACProvider>());
    providers.push_back(std::make_shared<TRM27KDCProvider>());
    providers.push_back(std::make_shared<TRM27KRCProvider>());
    return providers;
}
