#include "adb/DeviceShellOutput.h"

#include "foundation/Text.h"

namespace orvan {

std::optional<std::string> extractWlanIp(const std::string& output) {
    for (const auto& rawLine : text::splitLines(output)) {
        auto line = text::trimmedOf(rawLine, " \t");
        if (!line.starts_with("inet ")) continue;
        auto pieces = text::splitFields(std::string_view(line).substr(5));
        if (pieces.empty()) continue;
        auto address = pieces.front().substr(0, pieces.front().find('/'));
        if (!address.empty()) return address;
    }
    return std::nullopt;
}

std::optional<std::string> extractWlanSsid(const std::string& output) {
    static constexpr std::string_view kKey = "SSID:";
    for (const auto& line : text::splitLines(output)) {
        auto position = line.find(kKey);
        if (position == std::string::npos) continue;
        auto value = text::trimmed(std::string_view(line).substr(position + kKey.size()));
        value = text::trimmedOf(value.substr(0, value.find(',')), " \"");
        if (value.empty()) continue;
        auto lower = text::lowercased(value);
        if (lower == "<unknown ssid>" || lower == "unknown") continue;
        return value;
    }
    return std::nullopt;
}

}  // namespace orvan
