#include "shell/DeviceTabs.h"

#include <unicode/brkiter.h>
#include <unicode/unistr.h>

#include <memory>

#include "foundation/Text.h"

namespace orvan {

std::vector<ConnectedAdbDevice> mergedDevices(const std::vector<ConnectedAdbDevice>& devices,
                                              const std::vector<ConnectedAdbDevice>& recent) {
    std::vector<ConnectedAdbDevice> result;
    auto fold = [&result](const ConnectedAdbDevice& device) {
        for (auto& entry : result) {
            if (entry.isSamePhysicalDevice(device)) {
                entry = entry.merged(device);
                return;
            }
        }
        result.push_back(device);
    };
    for (const auto& device : devices) fold(device);
    for (const auto& device : recent) fold(device);
    return result;
}

std::vector<std::string> characters(const std::string& text) {
    std::vector<std::string> result;
    if (!text::isValidUtf8(text)) {
        for (char c : text) result.emplace_back(1, c);
        return result;
    }
    UErrorCode status = U_ZERO_ERROR;
    std::unique_ptr<icu::BreakIterator> iterator(icu::BreakIterator::createCharacterInstance(icu::Locale::getRoot(), status));
    auto unicode = icu::UnicodeString::fromUTF8(text);
    if (U_FAILURE(status) || !iterator) {
        for (char c : text) result.emplace_back(1, c);
        return result;
    }
    iterator->setText(unicode);
    int32_t start = iterator->first();
    for (int32_t end = iterator->next(); end != icu::BreakIterator::DONE; start = end, end = iterator->next()) {
        std::string piece;
        unicode.tempSubStringBetween(start, end).toUTF8String(piece);
        result.push_back(std::move(piece));
    }
    return result;
}

std::string singleLine(const std::string& text) {
    std::string result = text;
    for (char& c : result) {
        auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7F) c = ' ';
    }
    return result;
}

std::string tabTitle(const ConnectedAdbDevice& device, bool mirroring) {
    auto name = characters(singleLine(device.tabDisplayName()));
    std::string title;
    if (name.size() >= 15) {
        for (size_t i = 0; i < 7; ++i) title += name[i];
        title += "...";
        for (size_t i = name.size() - 4; i < name.size(); ++i) title += name[i];
    } else {
        for (const auto& piece : name) title += piece;
    }
    if (mirroring) title += " · 投屏中";
    return title;
}

std::string tabTooltip(const ConnectedAdbDevice& device) {
    std::vector<std::string> lines;
    if (device.model) lines.push_back("型号: " + *device.model);
    if (auto id = device.storableDeviceId()) lines.push_back("DeviceId: " + *id);
    if (device.ip) lines.push_back("IP: " + *device.ip);
    return text::joined(lines, "\n");
}

std::optional<size_t> keptSelection(const std::vector<ConnectedAdbDevice>& devices,
                                    const std::optional<ConnectedAdbDevice>& previous) {
    if (devices.empty()) return std::nullopt;
    if (previous) {
        for (size_t i = 0; i < devices.size(); ++i)
            if (devices[i].isSamePhysicalDevice(*previous)) return i;
    }
    return 0;
}

std::vector<ConnectedAdbDevice> withKnownDetails(const std::vector<ConnectedAdbDevice>& fresh,
                                                 const std::vector<ConnectedAdbDevice>& known) {
    std::vector<ConnectedAdbDevice> result;
    result.reserve(fresh.size());
    for (const auto& device : fresh) {
        auto match = std::find_if(known.begin(), known.end(), [&](const auto& k) { return k.isSamePhysicalDevice(device); });
        result.push_back(match == known.end() ? device : device.withKnownDetails(*match));
    }
    return result;
}

}  // namespace orvan
