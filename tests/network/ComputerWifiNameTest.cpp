#include <gtest/gtest.h>

#include <fstream>

#include "network/ComputerWifiName.h"
#include "platform/LinuxWifiSystem.h"
#include "support/ScopedEnvironment.h"
#include "support/TempDir.h"

namespace orvan {
namespace {

namespace fs = std::filesystem;

// Outputs of nmcli 1.42 (terse, escaped) and iwgetid as recorded on real machines and in their
// documentation, replayed by fake tools first on PATH.
struct WifiCase {
    const char* name;
    const char* nmcli;  // printed by the fake nmcli, exit status after '|'
    const char* iwgetid;
    std::optional<std::string> ssid;
    std::optional<std::string> security;
};

void writeTool(const fs::path& path, const std::string& reply, const fs::path& record) {
    auto bar = reply.rfind('|');
    std::ofstream(path) << "#!/bin/sh\necho \"$0 $* LC_ALL=$LC_ALL\" >> '" << record.string() << "'\nprintf '%s' '"
                        << reply.substr(0, bar) << "'\nexit " << reply.substr(bar + 1) << "\n";
    fs::permissions(path, fs::perms::owner_all);
}

class WifiTools : public ::testing::TestWithParam<WifiCase> {};

TEST_P(WifiTools, GiveTheNameAndSecurityOfTheNetworkInUse) {
    testing::TempDir folder;
    writeTool(folder / "nmcli", GetParam().nmcli, folder / "calls");
    writeTool(folder / "iwgetid", GetParam().iwgetid, folder / "calls");
    testing::ScopedEnvironment environment;
    environment.set("PATH", folder.path().string() + ":/usr/bin:/bin");
    environment.set("LC_ALL", "pl_PL.UTF-8");  // nmcli would translate its words under it

    ComputerWifiName wifi;
    EXPECT_EQ(wifi.currentSsid(), GetParam().ssid);
    EXPECT_EQ(wifi.currentSecurityType(), GetParam().security);
    std::ifstream calls(folder / "calls");
    for (std::string call; std::getline(calls, call);) EXPECT_TRUE(call.ends_with("LC_ALL=C.UTF-8")) << call;
}

INSTANTIATE_TEST_SUITE_P(
    Outputs, WifiTools,
    ::testing::Values(
        WifiCase{"EscapedColonAndBackslash",
                 " :Other:WPA2:(none):psk:wlan0\n*:Home\\:Net\\\\Lab:WPA2:(none):pair_ccmp group_ccmp psk:wlan0\n|0",
                 "|0", "Home:Net\\Lab", "WPA"},
        WifiCase{"Cjk", "*:实验室 5G:WPA2 WPA3:(none):psk sae:wlp2s0\n|0", "|0", "实验室 5G", "WPA"},
        WifiCase{"OpenNetworkHasEmptySecurity", "*:Open Café::(none):(none):wlan0\n|0", "|0", "Open Café", "NOPASS"},
        WifiCase{"Enterprise", "*:Corp:WPA2 802.1X:(none):pair_ccmp group_ccmp 802.1X:wlan0\n|0", "|0", "Corp", "EAP"},
        WifiCase{"SuiteBShowsOnlyInFlags", "*:SuiteB::(none):wpa-eap-suite-b-192:wlan0\n|0", "|0", "SuiteB", "EAP"},
        WifiCase{"OweAndWepArePersonal", "*:OWEnet:OWE:(none):owe:wlan0\n|0", "|0", "OWEnet", "WPA"},
        WifiCase{"HiddenNetworkInUse", "*::WPA2:(none):psk:wlan0\n|0", "\n|0", std::nullopt, "WPA"},
        WifiCase{"NoNetworkManagerFallsBackKeepingBlanks", "Error: NetworkManager is not running.\n|8", "Lab 5G \n|0",
                 "Lab 5G ", std::nullopt},
        WifiCase{"FailingToolsPrintNoAnswer", "*:Fake:WPA2:(none):psk:wlan0\n|1", "Error for wireless request\n|255",
                 std::nullopt, std::nullopt},
        WifiCase{"NoWifiDevice", "|0", "|255", std::nullopt, std::nullopt}),
    [](const auto& row) { return std::string(row.param.name); });

TEST(LinuxWifiSystem, WifiInterfacesAreTheWirelessOnesInUseFirst) {
    testing::TempDir sys;
    for (const char* marker : {"wlan1/wireless", "wlp2s0/phy80211", "eth0/statistics", "lo/statistics"}) {
        fs::create_directories(sys / marker);
    }
    LinuxWifiSystem wifi(
        [](const std::string& tool, const std::vector<std::string>&) -> std::optional<std::string> {
            if (tool == "nmcli") return std::string("*:Lab:WPA2:(none):psk:wlp2s0\n");
            return std::nullopt;
        },
        sys.path());
    EXPECT_EQ(wifi.wifiInterfaceNames(), (std::vector<std::string>{"wlp2s0", "wlan1"}));
}

}  // namespace
}  // namespace orvan
