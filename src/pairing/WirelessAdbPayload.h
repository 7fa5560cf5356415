#pragma once

#include <optional>
#include <string>

#include "adb/ConnectedAdbDevice.h"
#include "network/WirelessAdbWifiProfile.h"

namespace orvan {

inline constexpr const char* kEnableWirelessAdbPayload = "ENABLE_WIRELESS_ADB";
inline constexpr const char* kDisableWirelessAdbPayload = "DISABLE_WIRELESS_ADB";

// The text of an enable or disable QR code: compact JSON, keys sorted at every level, "\/" for
// every solidus. The enable code carries the Wi-Fi profile and throws MirrorError
// "未取得当前 Wi-Fi 配置。" without one; bytes that are not UTF-8 throw "二维码生成失败。".
std::string makeWirelessAdbPayload(const std::string& type, const std::string& sessionId,
                                   const std::string& callbackUrl, int port,
                                   const std::optional<WirelessAdbWifiProfile>& wifiProfile);

}  // namespace orvan
