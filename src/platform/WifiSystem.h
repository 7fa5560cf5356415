#pragma once

#include <optional>
#include <string>
#include <vector>

namespace orvan {

// The computer's own Wi-Fi as the system reports it.
class WifiSystem {
public:
    virtual ~WifiSystem() = default;
    // The SSID of the network in use, never empty when present.
    virtual std::optional<std::string> currentSsid() = 0;
    // The security code of the network in use: "WPA", "EAP" or "NOPASS"; nothing when unknown.
    virtual std::optional<std::string> currentSecurityType() = 0;
    // The names of the Wi-Fi interfaces, the one in use first.
    virtual std::vector<std::string> wifiInterfaceNames() = 0;
};

}  // namespace orvan
