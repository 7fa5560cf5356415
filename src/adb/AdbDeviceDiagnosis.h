#pragma once

#include <filesystem>
#include <optional>
#include <string>

#include "adb/AdbDevices.h"

namespace orvan {

// The USB vendor id ("18d1") of the device whose sysfs "serial" attribute is `serial`, from
// <sysfsRoot>/bus/usb/devices/*/{serial,idVendor}. Nothing when no device matches or its files
// cannot be read.
std::optional<std::string> usbVendorIdForSerial(const std::string& serial,
                                                const std::filesystem::path& sysfsRoot = "/sys");

// Why the glasses are listed but cannot be used, and what the user can do about it: one
// paragraph per unusable entry. Nothing when the listing has a usable device or no other entry.
std::optional<std::string> diagnoseUnusableDevices(const AdbDevices& devices,
                                                   const std::filesystem::path& sysfsRoot = "/sys");

}  // namespace orvan
