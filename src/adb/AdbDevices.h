#pragma once

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "adb/ConnectedAdbDevice.h"

namespace orvan {

// A listed transport in another state than "device": "no permissions", "unauthorized",
// "offline", or whatever else adb reports ("recovery", "connecting", ...).
struct UnusableAdbDevice {
    std::string serial;
    std::string state;
    bool operator==(const UnusableAdbDevice&) const = default;
};

// The usable transports of an `adb devices` listing, with what enrichment learnt about each.
// Every map is keyed by serial.
struct AdbDevices {
    std::vector<std::string> usb;       // serials without ":", in listing order
    std::vector<std::string> wireless;  // address:port serials, in listing order
    std::map<std::string, std::string> models;
    std::map<std::string, std::string> deviceIds;
    std::map<std::string, std::string> ips;
    std::map<std::string, std::string> wifiNames;
    // Not devices: what the listing said about the entries that cannot be used, so that the user
    // can be told why.
    std::vector<UnusableAdbDevice> unusable;

    bool operator==(const AdbDevices&) const = default;

    bool hasAny() const { return !usb.empty() || !wireless.empty(); }
    std::optional<std::string> primaryWirelessIp() const;
    // USB entries first, then wireless ones, each in listing order.
    std::vector<ConnectedAdbDevice> connectedDevices() const;
};

// One transport line of a listing: its serial and state ("device", "offline", "no permissions", ...).
struct ListedTransport {
    std::string serial;
    std::string state;
};

// The transport lines of `adb devices` (and `devices -l`) output: the lines after the header
// "List of devices attached" (after the first line when there is no such header) that have a
// tab after the serial or end with the transport id. Never fails: noise lines (daemon start-up
// messages, garbage, CRLF ends) are simply not transport lines.
std::vector<ListedTransport> listedTransports(const std::string& output);

// The listing's transports: those in state "device" are devices, the others are unusable.
AdbDevices parseAdbDevices(const std::string& output);

// The USB entry of `devices` that is the same glasses as `target`: the first one sharing a
// physical key, or, when `target` itself is on USB and there is only one USB entry, that one.
std::optional<ConnectedAdbDevice> matchingUsbDevice(const ConnectedAdbDevice& target, const AdbDevices& devices);

}  // namespace orvan
