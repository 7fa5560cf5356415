#include "adb/AdbDevices.h"

#include "foundation/Text.h"

namespace orvan {

namespace {

std::optional<std::string> entry(const std::map<std::string, std::string>& map, const std::string& serial) {
    auto found = map.find(serial);
    if (found == map.end()) return std::nullopt;
    return found->second;
}

// The state words after the serial, without the "key:value" details of `devices -l` and without
// the hint adb adds to "no permissions".
std::string unusableState(const std::vector<std::string>& tokens) {
    if (tokens.size() > 2 && tokens[1] == "no" && tokens[2].starts_with("permissions")) return "no permissions";
    std::vector<std::string> words;
    for (size_t i = 1; i < tokens.size() && tokens[i].find(':') == std::string::npos; ++i) words.push_back(tokens[i]);
    return words.empty() ? tokens[1] : text::joined(words, " ");
}

constexpr const char* kListingHeader = "List of devices attached";

// `adb devices` puts a tab after the serial; `devices -l` pads with spaces and ends the line with
// the transport id. Anything else (a daemon message, garbage) names no transport.
bool isTransportLine(const std::string& line, const std::vector<std::string>& tokens) {
    if (line.find('\t') != std::string::npos) return true;
    return tokens.back().starts_with("transport_id:");
}

}  // namespace

std::optional<std::string> AdbDevices::primaryWirelessIp() const {
    if (wireless.empty()) return std::nullopt;
    return wirelessHostPart(wireless.front());
}

std::vector<ConnectedAdbDevice> AdbDevices::connectedDevices() const {
    std::vector<ConnectedAdbDevice> devices;
    devices.reserve(usb.size() + wireless.size());
    for (const auto& serial : usb) {
        auto id = entry(deviceIds, serial);
        devices.push_back(ConnectedAdbDevice{serial, connection_kind::kUsb, entry(ips, serial),
                                             entry(wifiNames, serial), entry(models, serial), id ? id : serial, true,
                                             false});
    }
    for (const auto& serial : wireless) {
        auto ip = entry(ips, serial);
        devices.push_back(ConnectedAdbDevice{serial, connection_kind::kWireless, ip ? ip : wirelessHostPart(serial),
                                             entry(wifiNames, serial), entry(models, serial), entry(deviceIds, serial),
                                             false, true});
    }
    return devices;
}

std::vector<ListedTransport> listedTransports(const std::string& output) {
    std::vector<std::string> lines;
    // splitLines also ends a line at "\r", so CRLF output leaves no "\r" on the state word.
    for (auto& line : text::splitLines(output))
        if (!line.empty()) lines.push_back(std::move(line));
    // The client's own messages ("* daemon started successfully") come before the header.
    size_t first = 1;
    for (size_t i = 0; i < lines.size(); ++i) {
        if (lines[i].starts_with(kListingHeader)) {
            first = i + 1;
            break;
        }
    }
    std::vector<ListedTransport> transports;
    for (size_t i = first; i < lines.size(); ++i) {
        auto tokens = text::splitFields(lines[i]);
        if (tokens.size() < 2 || !isTransportLine(lines[i], tokens)) continue;
        transports.push_back({tokens[0], tokens[1] == "device" ? tokens[1] : unusableState(tokens)});
    }
    return transports;
}

AdbDevices parseAdbDevices(const std::string& output) {
    AdbDevices devices;
    for (auto& transport : listedTransports(output)) {
        if (transport.state != "device") {
            devices.unusable.push_back({std::move(transport.serial), std::move(transport.state)});
            continue;
        }
        (isWirelessSerial(transport.serial) ? devices.wireless : devices.usb).push_back(std::move(transport.serial));
    }
    return devices;
}

std::optional<ConnectedAdbDevice> matchingUsbDevice(const ConnectedAdbDevice& target, const AdbDevices& devices) {
    std::vector<ConnectedAdbDevice> usbEntries;
    for (auto& device : devices.connectedDevices())
        if (device.hasUsb) usbEntries.push_back(std::move(device));
    for (const auto& device : usbEntries)
        if (device.isSamePhysicalDevice(target)) return device;
    if (target.hasUsb && usbEntries.size() == 1) return usbEntries.front();
    return std::nullopt;
}

}  // namespace orvan
