#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace orvan {

// One IPv4 address of one of the computer's interfaces.
struct LanInterfaceAddress {
    std::string interfaceName;
    std::string address;  // dotted decimal
    bool operator==(const LanInterfaceAddress&) const = default;
};

// Names of the computer's Wi-Fi interfaces that are up with a network name, default one first,
// in a stable order. The computer-network code provides it; until then none are named and the
// first ordinary interface is taken.
using WifiInterfaceNames = std::function<std::vector<std::string>()>;
std::vector<std::string> noWifiInterfaceNames();

// The address the glasses should call back: an up, non-loopback, non-link-local IPv4 address,
// on a Wi-Fi interface when there is one, else on the first interface that is not a tunnel,
// bridge, VPN or container link. Nothing when there is none or the interfaces cannot be listed.
std::optional<LanInterfaceAddress> currentLanIPv4Address(
    const WifiInterfaceNames& wifiInterfaces = noWifiInterfaceNames);

// The choice itself, over the candidates in the system's order.
std::optional<LanInterfaceAddress> chooseLanIPv4Address(const std::vector<LanInterfaceAddress>& candidates,
                                                        const std::vector<std::string>& wifiInterfaces);

}  // namespace orvan
