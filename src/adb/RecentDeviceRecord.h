#pragma once

#include <chrono>
#include <optional>
#include <string>

#include "adb/ConnectedAdbDevice.h"

namespace orvan {

// One pair of glasses seen over USB, remembered with the Wi-Fi address it had then, so that it
// can be offered (and reconnected wirelessly) when it is no longer attached.
struct RecentDeviceRecord {
    std::string serial;  // the USB serial: the record's identity
    std::string ip;
    std::optional<std::string> wifiName;
    std::optional<std::string> model;
    std::chrono::system_clock::time_point updatedAt;

    bool operator==(const RecentDeviceRecord&) const = default;

    // The record as a "最近设备" tab: not connected, its serial standing in for the device id.
    ConnectedAdbDevice asConnectedDevice() const;
};

// The file stores times as seconds since 2001-01-01 00:00:00 UTC.
inline constexpr std::chrono::seconds kReferenceDateUnixSeconds{978307200};
double secondsSinceReferenceDate(std::chrono::system_clock::time_point time);
std::chrono::system_clock::time_point timeFromReferenceSeconds(double seconds);

}  // namespace orvan
