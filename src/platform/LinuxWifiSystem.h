#pragma once

#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/WifiSystem.h"

namespace orvan {

// Wi-Fi over NetworkManager's command-line client (terse output), then the wireless-extensions
// tool `iwgetid` for machines without NetworkManager (which gives the name but no security).
// Wi-Fi interfaces are those the kernel marks as wireless in sysfs.
class LinuxWifiSystem final : public WifiSystem {
public:
    // Runs a tool found on the search path with the C.UTF-8 locale; nothing when it cannot run,
    // fails, overruns or prints text that is not UTF-8. Injected: the runner lives above this layer.
    using ToolRunner =
        std::function<std::optional<std::string>(const std::string& tool, const std::vector<std::string>& arguments)>;

    explicit LinuxWifiSystem(ToolRunner runner, std::filesystem::path sysClassNet = "/sys/class/net");

    std::optional<std::string> currentSsid() override;
    std::optional<std::string> currentSecurityType() override;
    std::vector<std::string> wifiInterfaceNames() override;

    // The network in use as `nmcli -t -f IN-USE,SSID,SECURITY,WPA-FLAGS,RSN-FLAGS,DEVICE` lists it.
    struct InUseNetwork {
        std::string ssid;  // empty for a hidden network
        std::string security;
        std::string wpaFlags;
        std::string rsnFlags;
        std::string device;
    };
    static std::optional<InUseNetwork> inUseNetwork(const std::string& nmcliOutput);
    // Splits a terse nmcli line on unescaped ':' and undoes "\:" and "\\".
    static std::vector<std::string> splitTerse(const std::string& line);
    // Maps NetworkManager's security words and key-management flags onto our codes.
    static std::string securityCode(const InUseNetwork& network);

private:
    std::optional<InUseNetwork> queryNetworkManager();

    ToolRunner runner_;
    std::filesystem::path sysClassNet_;
};

}  // namespace orvan
