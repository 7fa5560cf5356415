#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/WifiSystem.h"

namespace orvan {

// The computer's Wi-Fi (name, security code, interfaces) as the rest of the app asks for it.
// Reads block for as long as the system tools take (3 s each at most).
class ComputerWifiName {
public:
    ComputerWifiName();  // the system's Wi-Fi
    explicit ComputerWifiName(std::shared_ptr<WifiSystem> wifi);

    // getComputerWifiName: the current SSID, nullopt when not on Wi-Fi or when it cannot be told.
    std::optional<std::string> currentSsid() const;
    // getComputerWifiSecurityType: "WPA", "EAP" or "NOPASS", nullopt when unknown.
    std::optional<std::string> currentSecurityType() const;
    std::vector<std::string> wifiInterfaceNames() const;
    // currentSsid, or "-" for the status row.
    std::string displayName() const;

private:
    std::shared_ptr<WifiSystem> wifi_;
};

// The Wi-Fi of this machine: NetworkManager's client, then iwgetid, through runSystemCommand.
std::shared_ptr<WifiSystem> makeSystemWifi();

// The Wi-Fi interfaces of this machine, the one in use first: the names currentLanIPv4Address
// prefers (its WifiInterfaceNames).
std::vector<std::string> systemWifiInterfaceNames();

}  // namespace orvan
