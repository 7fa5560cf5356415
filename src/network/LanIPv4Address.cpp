#include "network/LanIPv4Address.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>

#include <algorithm>
#include <memory>
#include <string_view>

namespace orvan {
namespace {

// Interfaces that do not lead to the glasses' Wi-Fi: tunnels, bridges, VPNs, containers and
// virtual machines (the names other systems give them, and Linux's own).
constexpr std::string_view kVirtualPrefixes[] = {"utun", "bridge", "awdl",      "llw",   "p2p",     "anpi", "gif",
                                                 "stf",  "docker", "veth",      "virbr", "br-",     "tun",  "tap",
                                                 "wg",   "zt",     "tailscale", "lxc",   "vboxnet", "vmnet"};

bool isVirtual(const std::string& name) {
    return std::any_of(std::begin(kVirtualPrefixes), std::end(kVirtualPrefixes),
                       [&](std::string_view prefix) { return name.starts_with(prefix); });
}

std::optional<std::vector<LanInterfaceAddress>> systemCandidates() {
    ifaddrs* raw = nullptr;
    if (getifaddrs(&raw) != 0) return std::nullopt;
    std::unique_ptr<ifaddrs, decltype(&freeifaddrs)> list(raw, &freeifaddrs);
    std::vector<LanInterfaceAddress> candidates;
    for (ifaddrs* entry = raw; entry; entry = entry->ifa_next) {
        if (!entry->ifa_addr || entry->ifa_addr->sa_family != AF_INET) continue;
        if (!(entry->ifa_flags & IFF_UP) || (entry->ifa_flags & IFF_LOOPBACK)) continue;
        char text[INET_ADDRSTRLEN] = {};
        auto* address = reinterpret_cast<sockaddr_in*>(entry->ifa_addr);
        if (!inet_ntop(AF_INET, &address->sin_addr, text, sizeof text)) continue;
        if (std::string_view(text).starts_with("169.254.")) continue;  // link-local: no DHCP answer
        candidates.push_back({entry->ifa_name, text});
    }
    return candidates;
}

}  // namespace

std::vector<std::string> noWifiInterfaceNames() {
    return {};
}

std::optional<LanInterfaceAddress> chooseLanIPv4Address(const std::vector<LanInterfaceAddress>& candidates,
                                                        const std::vector<std::string>& wifiInterfaces) {
    for (const auto& name : wifiInterfaces) {
        auto found = std::find_if(candidates.begin(), candidates.end(), [&](const LanInterfaceAddress& candidate) {
            return candidate.interfaceName == name;
        });
        if (found != candidates.end()) return *found;
    }
    auto ordinary = std::find_if(candidates.begin(), candidates.end(), [](const LanInterfaceAddress& candidate) {
        return !isVirtual(candidate.interfaceName);
    });
    if (ordinary != candidates.end()) return *ordinary;
    return std::nullopt;
}

std::optional<LanInterfaceAddress> currentLanIPv4Address(const WifiInterfaceNames& wifiInterfaces) {
    auto candidates = systemCandidates();
    if (!candidates) return std::nullopt;
    return chooseLanIPv4Address(*candidates, wifiInterfaces ? wifiInterfaces() : std::vector<std::string>{});
}

}  // namespace orvan
