#include "adb/DeviceDiscovery.h"

#include <exception>

#include "adb/DeviceShellOutput.h"
#include "foundation/MirrorError.h"
#include "foundation/Text.h"

namespace orvan {

namespace {

constexpr auto kShared = AdbServerScope::sharedDevelopment;
constexpr double kListingTimeout = 10.0;
constexpr double kPropertyTimeout = 5.0;
constexpr double kWlanIpTimeout = 10.0;
constexpr double kWifiStatusTimeout = 6.0;
constexpr double kDisconnectTimeout = 4.0;
// A background refresh gives up on a silent transport sooner; the user is not waiting on it.
constexpr double kSilentEchoTimeout = 2.5;
constexpr double kEchoTimeout = 4.0;

}  // namespace

DeviceDiscovery::DeviceDiscovery(const AdbRunner& runner, const ToolLocation& tools)
    : runner_(runner), tools_(tools), probe_(runner) {}

AdbDevices DeviceDiscovery::detectAdbDevicePresence(bool silent) const {
    tools_.checkAdb();
    auto listing = runner_.runAdb({"devices"}, {.timeout = Seconds(kListingTimeout), .log = !silent});
    return parseAdbDevices(listing.output);
}

AdbDevices DeviceDiscovery::detectAdbDevices(bool silent) const {
    AdbDevices devices = detectAdbDevicePresence(silent);

    std::vector<std::string> kept;
    for (const auto& serial : devices.wireless)
        if (keepWirelessTransport(serial, silent)) kept.push_back(serial);
    devices.wireless = std::move(kept);

    for (const auto& serial : devices.usb) enrich(devices, serial, silent);
    for (const auto& serial : devices.wireless) enrich(devices, serial, silent);
    return devices;
}

bool DeviceDiscovery::keepWirelessTransport(const std::string& serial, bool silent) const {
    if (probe_.adbTargetState(serial, kShared) == AdbTransportState::device &&
        probe_.echoesReadyMarker(serial, silent ? kSilentEchoTimeout : kEchoTimeout, kShared))
        return true;
    if (!silent) (*runner_.log())("已忽略并清理失效的无线 ADB transport: " + serial);
    // Whatever disconnect answers, the transport is left out; only a launch failure or a hang
    // (the shared server itself is in trouble) is worth failing the discovery for.
    runner_.runAdb({"disconnect", serial}, {.timeout = Seconds(kDisconnectTimeout), .check = false});
    return false;
}

void DeviceDiscovery::enrich(AdbDevices& devices, const std::string& serial, bool silent) const {
    if (auto model = getDeviceModel(serial, silent)) devices.models[serial] = *model;
    if (auto id = getDeviceHardwareId(serial, silent))
        devices.deviceIds[serial] = *id;
    else if (!isWirelessSerial(serial))
        devices.deviceIds[serial] = serial;

    if (isWirelessSerial(serial)) {
        if (auto host = wirelessHostPart(serial)) devices.ips[serial] = *host;
    } else {
        try {
            devices.ips[serial] = getWlanIp(serial, silent);
        } catch (const std::exception&) {
            // Glasses off Wi-Fi are still listed; only callers that need the address complain.
        }
    }
    if (auto name = getWlanSsid(serial, silent)) devices.wifiNames[serial] = *name;
}

std::optional<std::string> DeviceDiscovery::shellOutput(const std::string& serial,
                                                        const std::vector<std::string>& arguments, double timeout,
                                                        bool silent) const {
    try {
        auto result =
            runner_.runAdb(arguments, {.timeout = Seconds(timeout), .check = false, .serial = serial, .log = !silent});
        if (result.status != 0) return std::nullopt;
        return result.output;
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

std::optional<std::string> DeviceDiscovery::getDeviceModel(const std::string& serial, bool silent) const {
    auto output = shellOutput(serial, {"shell", "getprop", "ro.product.model"}, kPropertyTimeout, silent);
    if (!output) return std::nullopt;
    auto model = text::trimmed(*output);
    if (model.empty()) return std::nullopt;
    return model;
}

std::optional<std::string> DeviceDiscovery::getDeviceHardwareId(const std::string& serial, bool silent) const {
    for (const char* property : {"ro.serialno", "ro.boot.serialno"}) {
        auto output = shellOutput(serial, {"shell", "getprop", property}, kPropertyTimeout, silent);
        if (!output) continue;
        auto id = text::trimmed(*output);
        if (id.empty() || text::lowercased(id) == "unknown") continue;
        return id;
    }
    return std::nullopt;
}

std::string DeviceDiscovery::getWlanIp(const std::string& serial, bool silent) const {
    auto result = runner_.runAdb({"shell", "ip", "addr", "show", "wlan0"},
                                 {.timeout = Seconds(kWlanIpTimeout), .serial = serial, .log = !silent});
    if (auto ip = extractWlanIp(result.output)) return *ip;
    throw MirrorError::message("无法从 wlan0 获取眼镜 IP，请确认眼镜已接入公司内网或可互访局域网后重试。");
}

std::optional<std::string> DeviceDiscovery::getWlanSsid(const std::string& serial, bool silent) const {
    const std::vector<std::vector<std::string>> commands = {{"shell", "cmd", "wifi", "status"},
                                                            {"shell", "dumpsys", "wifi"}};
    for (const auto& command : commands) {
        auto output = shellOutput(serial, command, kWifiStatusTimeout, silent);
        if (!output) continue;
        if (auto name = extractWlanSsid(*output)) return name;
    }
    return std::nullopt;
}

}  // namespace orvan
