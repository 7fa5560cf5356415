#include <gtest/gtest.h>

#include "network/ComputerWifiName.h"

namespace orvan {
namespace {

TEST(NmcliTerse, SplitsOnUnescapedColonsAndUnescapes) {
    EXPECT_EQ(ComputerWifiName::splitTerse("*:Home\\:Net\\\\Lab"), (std::vector<std::string>{"*", "Home:Net\\Lab"}));
    EXPECT_EQ(ComputerWifiName::splitTerse(" :"), (std::vector<std::string>{" ", ""}));
}

TEST(NmcliTerse, TakesTheInUseNetworkOnly) {
    EXPECT_EQ(ComputerWifiName::ssidFromNmcli(" :Other\n*:Open Café\n"), "Open Café");
    EXPECT_EQ(ComputerWifiName::ssidFromNmcli(" :Other\n :Hidden\n"), std::nullopt);
    EXPECT_EQ(ComputerWifiName::ssidFromNmcli("*:\n"), std::nullopt);  // hidden network in use
    EXPECT_EQ(ComputerWifiName::ssidFromNmcli("Error: NetworkManager is not running."), std::nullopt);
}

TEST(ComputerWifiName, FallsBackToIwgetidAndShowsADashWithoutWifi) {
    std::vector<std::string> asked;
    ComputerWifiName noNetworkManager([&](const std::string& tool, const std::vector<std::string>&) -> std::optional<std::string> {
        asked.push_back(tool);
        if (tool == "iwgetid") return std::string("Lab 5G\n");
        return std::nullopt;
    });
    EXPECT_EQ(noNetworkManager.currentSsid(), "Lab 5G");
    EXPECT_EQ(asked, (std::vector<std::string>{"nmcli", "iwgetid"}));

    ComputerWifiName wired([](const std::string&, const std::vector<std::string>&) -> std::optional<std::string> { return std::string("\n"); });
    EXPECT_EQ(wired.displayName(), "-");
}

}  // namespace
}  // namespace orvan
