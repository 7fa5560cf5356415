#include "platform/LinuxWifiSystem.h"

#include <algorithm>
#include <sstream>

namespace orvan {
namespace {

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> result;
    std::istringstream stream(text);
    for (std::string line; std::getline(stream, line);) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        result.push_back(line);
    }
    return result;
}

std::vector<std::string> words(const std::string& text) {
    std::vector<std::string> result;
    std::istringstream stream(text);
    for (std::string word; stream >> word;) result.push_back(word);
    return result;
}

bool hasWord(const std::string& text, const std::string& word) {
    auto all = words(text);
    return std::find(all.begin(), all.end(), word) != all.end();
}

bool hasKeyFlags(const std::string& flags) {
    return !flags.empty() && flags != "(none)" && flags != "--";
}

}  // namespace

LinuxWifiSystem::LinuxWifiSystem(ToolRunner runner, std::filesystem::path sysClassNet)
    : runner_(std::move(runner)), sysClassNet_(std::move(sysClassNet)) {}

std::vector<std::string> LinuxWifiSystem::splitTerse(const std::string& line) {
    std::vector<std::string> fields(1);
    for (size_t i = 0; i < line.size(); ++i) {
        if (line[i] == '\\' && i + 1 < line.size()) {
            fields.back() += line[++i];
        } else if (line[i] == ':') {
            fields.emplace_back();
        } else {
            fields.back() += line[i];
        }
    }
    return fields;
}

std::optional<LinuxWifiSystem::InUseNetwork> LinuxWifiSystem::inUseNetwork(const std::string& nmcliOutput) {
    for (const auto& line : lines(nmcliOutput)) {
        auto fields = splitTerse(line);
        // IN-USE is "*" for the network in use (not a translated word, unlike ACTIVE's yes/no).
        if (fields.size() != 6 || fields[0] != "*") continue;
        return InUseNetwork{fields[1], fields[2], fields[3], fields[4], fields[5]};
    }
    return std::nullopt;
}

std::string LinuxWifiSystem::securityCode(const InUseNetwork& network) {
    // Enterprise first: "WPA2 802.1X" carries personal words too. NetworkManager 1.42 leaves the
    // security empty for WPA3-Enterprise-192 and tells it only in the flags.
    for (const auto* flags : {&network.wpaFlags, &network.rsnFlags}) {
        if (hasWord(*flags, "802.1X") || hasWord(*flags, "wpa-eap-suite-b-192")) return "EAP";
    }
    if (hasWord(network.security, "802.1X")) return "EAP";
    bool noSecurityWords = words(network.security).empty() || network.security == "--";
    if (noSecurityWords && !hasKeyFlags(network.wpaFlags) && !hasKeyFlags(network.rsnFlags)) return "NOPASS";
    // WEP, WPA1-3, OWE and anything newer: a personal network as far as the glasses are concerned.
    return "WPA";
}

std::optional<LinuxWifiSystem::InUseNetwork> LinuxWifiSystem::queryNetworkManager() {
    auto output = runner_("nmcli", {"-t", "-f", "IN-USE,SSID,SECURITY,WPA-FLAGS,RSN-FLAGS,DEVICE", "device", "wifi",
                                    "list", "--rescan", "no"});
    if (!output) return std::nullopt;
    return inUseNetwork(*output);
}

std::optional<std::string> LinuxWifiSystem::currentSsid() {
    if (auto network = queryNetworkManager(); network && !network->ssid.empty()) return network->ssid;
    if (auto output = runner_("iwgetid", {"-r"})) {
        // The raw name and a newline; only the line end is ours to strip (blanks may be part of it).
        std::string name = *output;
        while (!name.empty() && (name.back() == '\n' || name.back() == '\r')) name.pop_back();
        if (!name.empty()) return name;
    }
    return std::nullopt;
}

std::optional<std::string> LinuxWifiSystem::currentSecurityType() {
    // iwgetid knows no security; the caller then assumes a password.
    if (auto network = queryNetworkManager()) return securityCode(*network);
    return std::nullopt;
}

std::vector<std::string> LinuxWifiSystem::wifiInterfaceNames() {
    std::vector<std::string> names;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(sysClassNet_, error)) {
        auto folder = entry.path();
        if (std::filesystem::exists(folder / "wireless", error) ||
            std::filesystem::exists(folder / "phy80211", error)) {
            names.push_back(folder.filename().string());
        }
    }
    std::sort(names.begin(), names.end());
    if (auto network = queryNetworkManager(); network && !network->device.empty()) {
        auto inUse = std::find(names.begin(), names.end(), network->device);
        if (inUse != names.end()) std::rotate(names.begin(), inUse, inUse + 1);
    }
    return names;
}

}  // namespace orvan
