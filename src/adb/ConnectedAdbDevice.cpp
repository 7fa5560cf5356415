#include "adb/ConnectedAdbDevice.h"

#include <algorithm>
#include <charconv>
#include <functional>

#include "foundation/Text.h"

namespace orvan {

namespace {

constexpr const char* kNoDeviceId = "-";

std::optional<std::string> unlessWireless(const std::string& serial) {
    if (isWirelessSerial(serial)) return std::nullopt;
    return serial;
}

bool hasText(const std::optional<std::string>& value) {
    return value && !value->empty();
}

// The last `count` characters (not bytes): a device id may in principle hold any UTF-8.
std::string lastCharacters(const std::string& text, size_t count) {
    size_t position = text.size();
    while (position > 0 && count > 0) {
        --position;
        if ((static_cast<unsigned char>(text[position]) & 0xC0) != 0x80) --count;
    }
    return text.substr(position);
}

size_t characterCount(const std::string& text) {
    return static_cast<size_t>(
        std::count_if(text.begin(), text.end(), [](char c) { return (static_cast<unsigned char>(c) & 0xC0) != 0x80; }));
}

}  // namespace

std::optional<std::pair<std::string, int>> splitHostPort(const std::string& target) {
    auto colon = target.rfind(':');
    if (colon == std::string::npos) return std::nullopt;
    std::string_view portText = std::string_view(target).substr(colon + 1);
    int port = 0;
    auto [end, error] = std::from_chars(portText.data(), portText.data() + portText.size(), port);
    if (error != std::errc() || end != portText.data() + portText.size()) return std::nullopt;
    return std::pair{target.substr(0, colon), port};
}

bool isWirelessSerial(const std::string& serial) {
    return serial.find(':') != std::string::npos;
}

std::optional<std::string> wirelessHostPart(const std::string& serial) {
    auto colon = serial.find(':');
    std::string before = serial.substr(0, colon);
    if (!before.empty()) return before;
    if (colon == std::string::npos) return std::nullopt;
    std::string after = serial.substr(colon + 1);
    if (!after.empty()) return after;
    return std::nullopt;
}

std::optional<std::string> firstNonEmpty(std::initializer_list<std::optional<std::string>> values) {
    for (const auto& value : values) {
        if (!value) continue;
        auto candidate = text::trimmed(*value);
        if (!candidate.empty()) return candidate;
    }
    return std::nullopt;
}

std::string ConnectedAdbDevice::displayDeviceId() const {
    if (hasText(deviceId)) return *deviceId;
    return isWirelessSerial(serial) ? kNoDeviceId : serial;
}

std::optional<std::string> ConnectedAdbDevice::storableDeviceId() const {
    auto id = displayDeviceId();
    if (id == kNoDeviceId) return std::nullopt;
    return id;
}

std::string ConnectedAdbDevice::connectionText() const {
    if (hasUsb && hasWireless) return "USB 和无线 ADB 均已连接";
    if (isRecent()) return connection_kind::kRecent;
    return connectionKind + " ADB 已连接";
}

std::string ConnectedAdbDevice::tabDisplayName() const {
    if (model) {
        auto name = text::trimmed(*model);
        if (!name.empty()) return name;
    }
    auto id = displayDeviceId();
    if (id == kNoDeviceId) return "未知设备";
    if (characterCount(id) < 9) return id;
    return "设备 " + lastCharacters(id, 4);
}

std::string ConnectedAdbDevice::mirrorIdentity() const {
    auto id = displayDeviceId();
    if (id != kNoDeviceId) return "device:" + text::lowercased(id);
    if (hasText(ip)) return "ip:" + text::lowercased(*ip);
    return "serial:" + text::lowercased(serial);
}

std::set<std::string> ConnectedAdbDevice::physicalKeys() const {
    std::set<std::string> keys;
    auto id = displayDeviceId();
    if (id != kNoDeviceId) keys.insert("id:" + text::lowercased(id));
    if (hasText(ip)) keys.insert("ip:" + text::lowercased(*ip));
    keys.insert("serial:" + text::lowercased(serial));
    return keys;
}

bool ConnectedAdbDevice::isSamePhysicalDevice(const ConnectedAdbDevice& other) const {
    auto mine = physicalKeys();
    auto theirs = other.physicalKeys();
    return std::any_of(mine.begin(), mine.end(), [&](const std::string& key) { return theirs.contains(key); });
}

ConnectedAdbDevice ConnectedAdbDevice::merged(const ConnectedAdbDevice& other) const {
    const ConnectedAdbDevice* primary = this;
    if (hasWireless != other.hasWireless)
        primary = hasWireless ? this : &other;
    else if (isRecent() && !other.isRecent())
        primary = &other;

    ConnectedAdbDevice result;
    result.serial = primary->serial;
    result.hasUsb = hasUsb || other.hasUsb;
    result.hasWireless = hasWireless || other.hasWireless;
    if (result.hasUsb && result.hasWireless)
        result.connectionKind = connection_kind::kUsbAndWireless;
    else if (result.hasUsb)
        result.connectionKind = connection_kind::kUsb;
    else if (result.hasWireless)
        result.connectionKind = connection_kind::kWireless;
    else
        result.connectionKind = primary->connectionKind;
    result.ip = firstNonEmpty({ip, other.ip});
    result.wifiName = firstNonEmpty({isCurrentlyConnected() ? wifiName : std::nullopt,
                                     other.isCurrentlyConnected() ? other.wifiName : std::nullopt});
    result.model = firstNonEmpty({model, other.model});
    result.deviceId = firstNonEmpty({deviceId, other.deviceId, unlessWireless(serial), unlessWireless(other.serial)});
    return result;
}

ConnectedAdbDevice ConnectedAdbDevice::withKnownDetails(const ConnectedAdbDevice& known) const {
    ConnectedAdbDevice result = *this;
    result.ip = firstNonEmpty({ip, known.ip});
    result.wifiName = isCurrentlyConnected() ? wifiName : std::nullopt;
    result.model = firstNonEmpty({model, known.model});
    result.deviceId = firstNonEmpty({deviceId, known.deviceId, unlessWireless(serial), unlessWireless(known.serial)});
    return result;
}

}  // namespace orvan

std::size_t std::hash<orvan::ConnectedAdbDevice>::operator()(const orvan::ConnectedAdbDevice& device) const noexcept {
    std::size_t seed = 0;
    auto mix = [&seed](std::size_t value) { seed ^= value + 0x9e3779b97f4a7c15ULL + (seed << 6) + (seed >> 2); };
    std::hash<std::string> hashText;
    std::hash<std::optional<std::string>> hashOptional;
    mix(hashText(device.serial));
    mix(hashText(device.connectionKind));
    mix(hashOptional(device.ip));
    mix(hashOptional(device.wifiName));
    mix(hashOptional(device.model));
    mix(hashOptional(device.deviceId));
    mix(std::hash<bool>{}(device.hasUsb));
    mix(std::hash<bool>{}(device.hasWireless));
    return seed;
}
