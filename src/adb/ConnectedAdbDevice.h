#pragma once

#include <cstddef>
#include <initializer_list>
#include <optional>
#include <set>
#include <string>
#include <utility>

namespace orvan {

// The connection kinds a device record can carry; shown to the user as they are.
namespace connection_kind {
inline constexpr const char* kUsb = "USB";
inline constexpr const char* kWireless = "无线";
inline constexpr const char* kUsbAndWireless = "USB 和无线";
inline constexpr const char* kRecent = "最近设备";  // remembered, not attached now
}  // namespace connection_kind

// One pair of glasses as adb sees it (over USB, over wireless ADB or both) or as remembered
// from an earlier run. The same glasses show up under different serials (their own serial
// number over USB, address:port over Wi-Fi); the identity members below let callers recognise
// them across those views.
struct ConnectedAdbDevice {
    std::string serial;  // what adb is addressed with ("-s"); address:port for wireless
    std::string connectionKind;
    std::optional<std::string> ip;
    std::optional<std::string> wifiName;
    std::optional<std::string> model;
    std::optional<std::string> deviceId;  // hardware serial number
    bool hasUsb = false;
    bool hasWireless = false;

    bool operator==(const ConnectedAdbDevice&) const = default;

    bool isCurrentlyConnected() const { return hasUsb || hasWireless; }
    bool isRecent() const { return connectionKind == connection_kind::kRecent; }
    // The hardware id; for a wireless record without one "-" (its address is no id), for any
    // other the serial, which over USB is the hardware serial number.
    std::string displayDeviceId() const;
    // displayDeviceId, or nullopt when it is the "-" placeholder.
    std::optional<std::string> storableDeviceId() const;
    std::string connectionText() const;
    std::string tabDisplayName() const;
    // The key under which one mirror per physical pair of glasses is tracked, whatever route
    // reaches them: "device:<id>", else "ip:<address>", else "serial:<serial>" (lower case).
    std::string mirrorIdentity() const;
    // Every name the glasses go by: "id:<id>", "ip:<address>" and always "serial:<serial>".
    std::set<std::string> physicalKeys() const;
    bool isSamePhysicalDevice(const ConnectedAdbDevice& other) const;

    // One record for two views of the same glasses: the wireless view's serial wins (mirroring
    // goes over Wi-Fi), details are taken from whichever view has them. A recent record never
    // contributes its Wi-Fi name, which may be stale.
    ConnectedAdbDevice merged(const ConnectedAdbDevice& other) const;
    // This live record completed with details remembered in `known` (a recent-device record).
    // The connection and serial stay this record's; a Wi-Fi name is only ever a live one.
    ConnectedAdbDevice withKnownDetails(const ConnectedAdbDevice& known) const;
};

// The port glasses listen on for wireless ADB once switched with `adb tcpip`.
inline constexpr int kWirelessAdbPort = 5555;

// "ip:port" split at its last ":", the port a decimal number; nullopt for anything else.
std::optional<std::pair<std::string, int>> splitHostPort(const std::string& target);

// A serial that contains ":" is a wireless transport (address:port); anything else, including
// a name a pairing service announces, counts as USB.
bool isWirelessSerial(const std::string& serial);
// The address of a wireless serial: the text before its first ":" (empty pieces dropped, so
// ":5555" gives "5555"); nullopt when nothing is left.
std::optional<std::string> wirelessHostPart(const std::string& serial);

// Each present value trimmed of white space; the first that is not empty, trimmed.
std::optional<std::string> firstNonEmpty(std::initializer_list<std::optional<std::string>> values);

}  // namespace orvan

template <>
struct std::hash<orvan::ConnectedAdbDevice> {
    std::size_t operator()(const orvan::ConnectedAdbDevice& device) const noexcept;
};
