#pragma once

#include <optional>
#include <string>

#include "adb/AdbDevices.h"

namespace orvan {

// The glasses the export window works with: the preferred serial (the selected tab) when it is
// connected, else the only connected device. Throws MirrorError "未检测到 ADB 设备，..." or
// "检测到多个 ADB 设备，..." otherwise.
std::string chooseMediaDevice(const AdbDevices& devices, const std::optional<std::string>& preferredSerial);

// Whether adb still lists the serial as a usable device.
bool isDeviceListed(const AdbDevices& devices, const std::string& serial);

// The text of an operation whose pinned glasses are gone.
std::string mediaDeviceGoneText(const std::string& serial);

}  // namespace orvan
