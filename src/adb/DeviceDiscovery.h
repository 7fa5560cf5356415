#pragma once

#include <optional>
#include <string>

#include "adb/AdbDevices.h"
#include "adb/AdbRunner.h"
#include "adb/AdbTargetProbe.h"
#include "foundation/ToolLocation.h"

namespace orvan {

// Finds the glasses the shared adb server can see and learns who they are. Always talks to the
// shared server: the private mirroring server is never asked for its device list.
//
// Every operation blocks its thread for the sum of its command times; callers run it off the
// main thread and keep refreshes from overlapping. `silent` (background refreshes) keeps the
// commands, their output and the stale-transport message out of the log. Holds no lock and no
// state of its own.
class DeviceDiscovery {
public:
    DeviceDiscovery(const AdbRunner& runner, const ToolLocation& tools);

    // The quick listing: tools checked, one `adb devices`, parsed; no validation, no details.
    // Throws the tool check's error or the listing's (launch, time-out, non-zero status).
    AdbDevices detectAdbDevicePresence(bool silent) const;

    // The full discovery: the listing; then every wireless transport must answer an echo or it
    // is logged, disconnected and left out (a transport can stay listed as "device" while its
    // connection is dead); then model, hardware id, address and Wi-Fi name of every device.
    // Throws what detectAdbDevicePresence throws, and the launch error or time-out of a stale
    // transport's disconnect. Details that cannot be read are simply absent.
    AdbDevices detectAdbDevices(bool silent) const;

    std::optional<std::string> getDeviceModel(const std::string& serial, bool silent) const;
    // ro.serialno, else ro.boot.serialno; "unknown" is no id.
    std::optional<std::string> getDeviceHardwareId(const std::string& serial, bool silent) const;
    // The address of the glasses' wlan0. Throws the command's error, or MirrorError
    // "无法从 wlan0 获取眼镜 IP，..." when wlan0 has no IPv4 address.
    std::string getWlanIp(const std::string& serial, bool silent) const;
    // `cmd wifi status`, else `dumpsys wifi`.
    std::optional<std::string> getWlanSsid(const std::string& serial, bool silent) const;

private:
    // Whether a listed wireless transport still carries a round trip. Stale ones are
    // disconnected here; a disconnect that cannot run or hangs fails the whole discovery.
    bool keepWirelessTransport(const std::string& serial, bool silent) const;
    void enrich(AdbDevices& devices, const std::string& serial, bool silent) const;
    // A shell command whose failures (launch, time-out, non-zero status) mean "no answer".
    std::optional<std::string> shellOutput(const std::string& serial, const std::vector<std::string>& arguments,
                                           double timeout, bool silent) const;

    const AdbRunner& runner_;
    const ToolLocation& tools_;
    AdbTargetProbe probe_;
};

}  // namespace orvan
