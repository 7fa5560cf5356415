#include "network/WifiProfilePersistence.h"

#include "foundation/Text.h"
#include "network/WifiProfileUpdatedNotification.h"

namespace orvan {
namespace {

bool isOpenNetwork(const WirelessAdbWifiProfile& profile) {
    return text::uppercased(profile.securityType) == "NOPASS";
}

}  // namespace

WifiPersistOutcome persistWifiProfile(WirelessAdbWifiCredentialStore& store, const WirelessAdbWifiProfile& profile,
                                      bool remember) {
    WifiPersistOutcome outcome;
    try {
        if (remember && !isOpenNetwork(profile)) {
            store.save(profile);
            outcome.saved = true;
            outcome.suffix = "凭据已安全保存到系统密钥环。";
        } else {
            // An open network is never written; a stored item of it goes too.
            store.deletePassword(profile.ssid);
            outcome.suffix = "凭据仅在本次运行中使用。";
        }
    } catch (const WirelessAdbWifiCredentialError& error) {
        outcome.failure = error.what();
        outcome.suffix = std::string(error.what()) + "；凭据未保存。";
    }
    return outcome;
}

WifiPersistOutcome persistAndCacheWifiProfile(WirelessAdbWifiCredentialStore& store, WirelessAdbWifiProfileCache& cache,
                                              const WirelessAdbWifiProfile& profile, bool remember) {
    auto outcome = persistWifiProfile(store, profile, remember);
    cache.save(profile, outcome.saved);
    return outcome;
}

std::string applyWifiProfileToHome(WirelessAdbWifiCredentialStore& store, WirelessAdbWifiProfileCache& cache,
                                   const WirelessAdbWifiProfile& profile, bool remember) {
    auto outcome = persistWifiProfile(store, profile, remember);
    cache.applyToHome(profile, outcome.saved);
    WifiProfileUpdatedNotification::post();
    return "已应用到扫码投屏首页。" + outcome.suffix;
}

}  // namespace orvan
