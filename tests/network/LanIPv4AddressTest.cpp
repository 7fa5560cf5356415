#include <gtest/gtest.h>

#include "network/LanIPv4Address.h"

namespace orvan {
namespace {

TEST(LanIPv4Address, PrefersWifiThenTheFirstOrdinaryInterface) {
    std::vector<LanInterfaceAddress> tunnelFirst = {
        {"tun0", "10.8.0.2"}, {"docker0", "172.17.0.1"}, {"enp3s0", "192.168.1.20"}, {"wlp2s0", "192.168.8.5"}};
    EXPECT_EQ(chooseLanIPv4Address(tunnelFirst, {"wlan9", "wlp2s0"}), tunnelFirst[3]);
    EXPECT_EQ(chooseLanIPv4Address(tunnelFirst, {}), tunnelFirst[2]);
    std::vector<LanInterfaceAddress> virtualOnly = {
        {"utun3", "10.8.0.2"}, {"br-1a2b", "172.18.0.1"}, {"tailscale0", "100.64.0.1"}, {"veth12", "172.17.0.5"}};
    EXPECT_EQ(chooseLanIPv4Address(virtualOnly, {}), std::nullopt);
}

}  // namespace
}  // namespace orvan
