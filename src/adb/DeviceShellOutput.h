#pragma once

#include <optional>
#include <string>

namespace orvan {

// Parsers of what the glasses' shell prints for the discovery commands. Both take any text
// (CRLF ends, noise, partial output) and give nullopt when they find nothing usable.

// The IPv4 address of the first "inet " line of `ip addr show wlan0` (inet6 lines do not
// count), without its prefix length: "    inet 192.168.1.20/24 brd ..." gives 192.168.1.20.
std::optional<std::string> extractWlanIp(const std::string& output);

// The network name of the first usable "SSID:" line of `cmd wifi status` or `dumpsys wifi`:
// the value up to the first ",", without quotes. "<unknown ssid>" and "unknown" (what Android
// prints while it is not connected, or without location access) are not names.
std::optional<std::string> extractWlanSsid(const std::string& output);

}  // namespace orvan
