#include "network/ScanWifiProfile.h"

#include "foundation/Text.h"

namespace orvan {
namespace {

bool fits(const WirelessAdbWifiProfile& profile, const std::string& code) {
    return text::uppercased(profile.securityType) == code && profile.isValidForAutomaticConnection();
}

}  // namespace

std::optional<WirelessAdbWifiProfile> resolveScanWifiProfile(WirelessAdbWifiProfileCache& cache,
                                                             WirelessAdbWifiCredentialStore& store,
                                                             const ComputerWifiName& wifi) {
    // The applied profile wins whatever network the computer is on.
    if (auto home = cache.appliedHomeProfile(); home && home->isValidForAutomaticConnection()) return home;
    auto ssid = wifi.currentSsid();
    if (!ssid || ssid->empty()) return std::nullopt;
    std::string code = wifi.currentSecurityType().value_or("WPA");
    if (code == "NOPASS") return WirelessAdbWifiProfile{.ssid = *ssid, .securityType = "NOPASS"};
    if (auto cached = cache.profile(*ssid); cached && fits(*cached, code)) return cached;
    std::optional<WirelessAdbWifiProfile> stored;
    try {
        stored = store.profile(*ssid);
    } catch (const WirelessAdbWifiCredentialError&) {
        return std::nullopt;  // the page asks for the password instead
    }
    if (!stored || !fits(*stored, code)) return std::nullopt;
    cache.save(*stored, true);
    return stored;
}

}  // namespace orvan
