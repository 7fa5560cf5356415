#include "network/ComputerWifiName.h"

#include <unistd.h>

#include <cstdlib>

#include "foundation/ProcessRunner.h"
#include "foundation/Text.h"
#include "platform/LinuxWifiSystem.h"

namespace orvan {
namespace {

// The search path first (a desktop user's own tools, and fakes in tests), then the system
// folders that a user's PATH often lacks (iwgetid lives in /sbin).
std::optional<std::string> findTool(const std::string& name) {
    std::vector<std::string> folders;
    if (const char* path = std::getenv("PATH")) folders = text::splitFields(path, ":");
    for (const char* folder : {"/usr/sbin", "/sbin", "/usr/bin", "/bin"}) folders.emplace_back(folder);
    for (const auto& folder : folders) {
        std::string candidate = folder + "/" + name;
        if (::access(candidate.c_str(), X_OK) == 0) return candidate;
    }
    return std::nullopt;
}

std::optional<std::string> runWifiTool(const std::string& tool, const std::vector<std::string>& arguments) {
    auto path = findTool(tool);
    if (!path) return std::nullopt;
    // nmcli translates its words and mangles non-ASCII names outside a UTF-8 locale; a failing
    // tool prints an error text, not an answer.
    return runSystemCommand(*path, arguments, {.environmentChanges = {{"LC_ALL", "C.UTF-8"}}, .requireSuccess = true});
}

}  // namespace

std::shared_ptr<WifiSystem> makeSystemWifi() {
    return std::make_shared<LinuxWifiSystem>(runWifiTool);
}

std::vector<std::string> systemWifiInterfaceNames() {
    return makeSystemWifi()->wifiInterfaceNames();
}

ComputerWifiName::ComputerWifiName() : wifi_(makeSystemWifi()) {}

ComputerWifiName::ComputerWifiName(std::shared_ptr<WifiSystem> wifi) : wifi_(std::move(wifi)) {}

std::optional<std::string> ComputerWifiName::currentSsid() const {
    auto ssid = wifi_->currentSsid();
    if (ssid && ssid->empty()) return std::nullopt;
    return ssid;
}

std::optional<std::string> ComputerWifiName::currentSecurityType() const {
    return wifi_->currentSecurityType();
}

std::vector<std::string> ComputerWifiName::wifiInterfaceNames() const {
    return wifi_->wifiInterfaceNames();
}

std::string ComputerWifiName::displayName() const {
    return currentSsid().value_or("-");
}

}  // namespace orvan
