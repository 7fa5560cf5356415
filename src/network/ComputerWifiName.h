#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace orvan {

// The name (SSID) of the Wi-Fi network the computer is on: NetworkManager first, then the
// wireless-extensions tool for machines without it. Both are optional on a Linux desktop.
class ComputerWifiName {
public:
    // Runs a tool with extra environment and returns its output, nothing when it cannot run.
    using ToolRunner = std::function<std::optional<std::string>(const std::string& tool, const std::vector<std::string>& arguments)>;

    ComputerWifiName();  // the system's tools
    explicit ComputerWifiName(ToolRunner runner);

    // The current SSID, nullopt when not on Wi-Fi or when it cannot be told.
    std::optional<std::string> currentSsid() const;
    // currentSsid, or "-" for the status row.
    std::string displayName() const;

    // The SSID of the in-use line of `nmcli -t -f IN-USE,SSID dev wifi list` (terse, escaped).
    static std::optional<std::string> ssidFromNmcli(const std::string& output);
    // Splits a terse nmcli line on unescaped ':' and undoes "\:" and "\\".
    static std::vector<std::string> splitTerse(const std::string& line);

private:
    ToolRunner runner_;
};

}  // namespace orvan
