#include <gtest/gtest.h>

#include "adb/DeviceShellOutput.h"

namespace orvan {
namespace {

constexpr const char* kIpAddrOutput =
    "27: wlan0: <BROADCAST,MULTICAST,UP,LOWER_UP> mtu 1500 qdisc mq state UP group default qlen 3000\n"
    "    link/ether 02:00:00:00:00:00 brd ff:ff:ff:ff:ff:ff\n"
    "    inet6 fe80::1/64 scope link\n"
    "       valid_lft forever preferred_lft forever\n"
    "    inet 192.168.1.20/24 brd 192.168.1.255 scope global wlan0\n"
    "       valid_lft forever preferred_lft forever\n"
    "    inet 10.0.0.5/8 scope global secondary wlan0\n";

TEST(DeviceShellOutput, WlanIpIsTheFirstInetAddressAndTheSsidTheQuotedNameUpToTheFirstComma) {
    EXPECT_EQ(extractWlanIp(kIpAddrOutput), "192.168.1.20");
    EXPECT_EQ(extractWlanIp("\t inet 192.168.1.20/24 brd x\r\n"), "192.168.1.20");
    EXPECT_EQ(extractWlanIp("inet 10.1.2.3 peer 10.1.2.4"), "10.1.2.3");  // no prefix length
    // Nothing without an inet line.
    EXPECT_EQ(extractWlanIp(""), std::nullopt);
    EXPECT_EQ(extractWlanIp("Device \"wlan0\" does not exist."), std::nullopt);
    EXPECT_EQ(extractWlanIp("    inet6 fe80::1/64 scope link\n    link/ether 02:00"), std::nullopt);
    EXPECT_EQ(extractWlanIp("inet\ninet   \ninetx 1.2.3.4/8\n"), std::nullopt);
    EXPECT_EQ(extractWlanIp("inet /24\n    inet 1.2.3.4/8\n"), "1.2.3.4");  // a line without address is skipped
    EXPECT_EQ(extractWlanIp(std::string(100 * 1024, 'i') + "\n" + std::string("\0\xff", 2)), std::nullopt);

    EXPECT_EQ(extractWlanSsid("Wifi is enabled\nWifiInfo: SSID: \"Office 5G\", BSSID: 02:00:00:00:00:00, MAC: x\n"),
              "Office 5G");
    EXPECT_EQ(extractWlanSsid("  SSID:   Lab\r\n"), "Lab");
    EXPECT_EQ(extractWlanSsid("mWifiInfo SSID: \"家里的网络\", BSSID: aa"), "家里的网络");
    // Unknown names are skipped and later lines tried.
    EXPECT_EQ(extractWlanSsid("SSID: <unknown ssid>, BSSID: x\nSSID: \"Second\", x\n"), "Second");
    EXPECT_EQ(extractWlanSsid("SSID: \"<UNKNOWN SSID>\"\nSSID: Unknown\n"), std::nullopt);
    EXPECT_EQ(extractWlanSsid("SSID: \"\", BSSID: x\nSSID: ,\n"), std::nullopt);
    EXPECT_EQ(extractWlanSsid("Wifi is disabled\nssid: lowercase key\n"), std::nullopt);  // the key is exact
    EXPECT_EQ(extractWlanSsid(""), std::nullopt);
}

}  // namespace
}  // namespace orvan
