// The built libtrm27k.so as the host sees it: one symbol, four providers.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include "Provider.h"
#include "SMDSPDevice.h"

namespace {
struct Plugin {
    void* handle = dlopen(TRM27K_PLUGIN_PATH, RTLD_NOW | RTLD_LOCAL);
    ~Plugin() {
        if (handle != nullptr) dlclose(handle);
    }
    GetProvidersFn Entry() const {
        return reinterpret_cast<GetProvidersFn>(dlsym(handle, "get_providers"));
    }
};
}  // namespace

TEST(PluginLoad, ExportsGetProvidersUnderItsPlainName) {
    Plugin plugin;
    ASSERT_NE(nullptr, plugin.handle) << dlerror();
    EXPECT_NE(nullptr, plugin.Entry());
    // The library's own classes stay hidden.
    EXPECT_EQ(nullptr, dlsym(plugin.handle, "_ZN6TRM27KC1Ev"));
    EXPECT_EQ(nullptr, dlsym(plugin.handle, "_ZN8TRM27KACC1Ev"));
}

TEST(PluginLoad, FourProvidersCreateTheFourDeviceKinds) {
    Plugin plugin;
    ASSERT_NE(nullptr, plugin.handle) << dlerror();
    ProviderList providers = plugin.Entry()();
    ASSERT_EQ(4u, providers.size());
    const char* types[] = {"trm27k", "trm27k-ac", "trm27k-dc", "trm27k-rc"};
    for (size_t i = 0; i < providers.size(); ++i) {
        auto* factory = dynamic_cast<SMDSPDeviceProvider*>(providers[i].get());
        ASSERT_NE(nullptr, factory);
        std::unique_ptr<SMDSPDevice> first(factory->create());
        std::unique_ptr<SMDSPDevice> second(factory->create());
        EXPECT_EQ(types[i], first->DeviceType());
        EXPECT_NE(first.get(), second.get());
        EXPECT_EQ(1, providers[i].use_count());
    }
    ProviderList again = plugin.Entry()();
    EXPECT_NE(providers[0].get(), again[0].get());
}
