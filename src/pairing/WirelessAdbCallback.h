#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>

namespace orvan {

// Where the glasses can be reached, as they report it.
struct WirelessAdbCallbackDevice {
    std::optional<std::string> serial{};
    std::string ip{};
    int64_t adbPort = 0;
    bool adbEnabled = false;   // absent or null reads as false
    bool tcpPortOpen = false;  // absent or null reads as false
    bool operator==(const WirelessAdbCallbackDevice&) const = default;
};

// One request of the glasses: a status report ("ORVAN_WIRELESS_ADB_STATUS") or an
// acknowledgement query ("ORVAN_WIRELESS_ADB_ACK"). Nothing is trimmed or checked here beyond types.
struct WirelessAdbCallback {
    std::string type{};
    int64_t version = 0;
    std::optional<std::string> action{};
    std::string sessionId{};
    std::string status{};
    std::optional<WirelessAdbCallbackDevice> device{};
    std::optional<std::string> errorCode{};
    std::optional<std::string> message{};
    bool operator==(const WirelessAdbCallback&) const = default;

    // The body as one JSON object with the typed members; the error names the first problem
    // (for the log). Never throws.
    static std::variant<WirelessAdbCallback, std::string> decode(std::string_view body);
};

}  // namespace orvan
