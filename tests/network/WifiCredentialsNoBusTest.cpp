#include <gtest/gtest.h>

#include "network/WifiProfilePersistence.h"
#include "platform/LibsecretSecretStore.h"
#include "support/ScopedEnvironment.h"

namespace orvan {
namespace {

// A desktop session without a bus (or without any Secret Service): the keyring's answer is the
// mapped error, the profile is still usable for the run, and nothing waits for a bus.
TEST(WifiCredentialsWithoutSessionBus, GiveTheMappedErrorAndKeepTheProfileForTheRun) {
    testing::ScopedEnvironment environment;
    environment.set("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/orvan-bus");
    environment.unset("DISPLAY");  // no X11 autolaunch of a bus daemon
    WirelessAdbWifiCredentialStore store(std::make_shared<LibsecretSecretStore>());
    try {
        store.profile("Lab");
        ADD_FAILURE() << "no error without a bus";
    } catch (const WirelessAdbWifiCredentialError& error) {
        EXPECT_EQ(error.status(), secret_status::serviceUnavailable);
        EXPECT_STREQ(error.what(), "系统密钥环操作失败（没有可用的密钥环服务）");
    }
    EXPECT_EQ(store.profile("Lab"), std::nullopt);
    WirelessAdbWifiProfileCache cache;
    const WirelessAdbWifiProfile lab{.ssid = "Lab", .password = "lab-password", .securityType = "WPA"};
    auto outcome = persistAndCacheWifiProfile(store, cache, lab, true);
    EXPECT_EQ(outcome.suffix, "系统密钥环操作失败（没有可用的密钥环服务）；凭据未保存。");
    EXPECT_EQ(cache.profile("Lab"), lab);
}

}  // namespace
}  // namespace orvan
