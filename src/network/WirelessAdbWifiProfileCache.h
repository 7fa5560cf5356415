#pragma once

#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <string>

#include "network/WirelessAdbWifiProfile.h"

namespace orvan {

// The Wi-Fi profiles used in this run, in memory only: which of them the keyring holds, and the
// home profile the user applied to the scan page. Every operation holds the lock throughout.
class WirelessAdbWifiProfileCache {
public:
    static WirelessAdbWifiProfileCache& shared();

    // `persisted`: the keyring holds this profile (never merely "the user asked for it").
    void save(const WirelessAdbWifiProfile& profile, bool persisted = false);
    void applyToHome(const WirelessAdbWifiProfile& profile, bool persisted = false);
    std::optional<WirelessAdbWifiProfile> appliedHomeProfile();
    // Exact, case-sensitive lookup by SSID.
    std::optional<WirelessAdbWifiProfile> profile(const std::string& ssid);
    bool isPersisted(const std::string& ssid);

private:
    void store(const WirelessAdbWifiProfile& profile, bool persisted);

    std::mutex lock_;
    std::map<std::string, WirelessAdbWifiProfile> profiles_;
    std::set<std::string> persistedSsids_;
    std::optional<WirelessAdbWifiProfile> homeProfile_;
};

}  // namespace orvan
