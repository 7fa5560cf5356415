#include "network/WirelessAdbWifiProfileCache.h"

namespace orvan {

WirelessAdbWifiProfileCache& WirelessAdbWifiProfileCache::shared() {
    static WirelessAdbWifiProfileCache cache;
    return cache;
}

void WirelessAdbWifiProfileCache::store(const WirelessAdbWifiProfile& profile, bool persisted) {
    profiles_[profile.ssid] = profile;
    if (persisted) {
        persistedSsids_.insert(profile.ssid);
    } else {
        persistedSsids_.erase(profile.ssid);
    }
}

void WirelessAdbWifiProfileCache::save(const WirelessAdbWifiProfile& profile, bool persisted) {
    std::lock_guard lock(lock_);
    store(profile, persisted);
}

void WirelessAdbWifiProfileCache::applyToHome(const WirelessAdbWifiProfile& profile, bool persisted) {
    std::lock_guard lock(lock_);
    store(profile, persisted);
    homeProfile_ = profile;
}

std::optional<WirelessAdbWifiProfile> WirelessAdbWifiProfileCache::appliedHomeProfile() {
    std::lock_guard lock(lock_);
    return homeProfile_;
}

std::optional<WirelessAdbWifiProfile> WirelessAdbWifiProfileCache::profile(const std::string& ssid) {
    std::lock_guard lock(lock_);
    auto found = profiles_.find(ssid);
    if (found == profiles_.end()) return std::nullopt;
    return found->second;
}

bool WirelessAdbWifiProfileCache::isPersisted(const std::string& ssid) {
    std::lock_guard lock(lock_);
    return persistedSsids_.contains(ssid);
}

}  // namespace orvan
