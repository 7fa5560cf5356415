#include <gtest/gtest.h>

#include "network/WifiProfilePersistence.h"
#include "platform/LibsecretSecretStore.h"
#include "support/ScopedEnvironment.h"

namespace orvan {
namespace {

// A desktop session without a bus (or without any Secret Service) gives the mapped error at once.
TEST(WifiCredentialsWithoutSessionBus, GiveTheMappedError) {
    testing::ScopedEnvironment environment;
    environment.set("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/orvan-bus");
    environment.unset("DISPLAY");  // no X11 autolaunch of a bus daemon
    WirelessAdbWifiCredentialStore store(std::make_shared<LibsecretSecretStore>());
    auto outcome = persistWifiProfile(store, {.ssid = "Lab", .password = "lab-password", .securityType = "WPA"}, true);
    EXPECT_EQ(outcome.failure, "系统密钥环操作失败（没有可用的密钥环服务）");
}

}  // namespace
}  // namespace orvan
