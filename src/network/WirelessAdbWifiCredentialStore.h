#pragma once

#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>

#include "network/SavedWifiNames.h"
#include "network/WirelessAdbWifiCredentialError.h"
#include "network/WirelessAdbWifiProfile.h"
#include "platform/SecretStore.h"

namespace orvan {

// Wi-Fi profiles in the desktop's secret store, one item per SSID (service + account = SSID),
// so that the user types a password once. The store asks the keyring at most once per SSID in a
// run and never makes it prompt: an SSID it could not read stays unavailable until the next
// launch. One lock serialises every keyring call of the store. Failures throw
// WirelessAdbWifiCredentialError.
class WirelessAdbWifiCredentialStore {
public:
    static constexpr const char* kService = "com.orvan.mirror.wifi-password";
    static constexpr const char* kLabelPrefix = "Orvan Mirror Wi-Fi：";

    // `namesFile` keeps the list of saved names across runs (none: for this run only).
    explicit WirelessAdbWifiCredentialStore(std::shared_ptr<SecretStore> secrets,
                                            std::filesystem::path namesFile = {});
    // The process-wide store over the Secret Service, created on first use.
    static WirelessAdbWifiCredentialStore& shared();

    // The stored profile; an item from older versions holding a bare password reads as a "WPA"
    // profile. Nothing when there is none or it cannot be read without the user.
    std::optional<WirelessAdbWifiProfile> profile(const std::string& ssid);
    void save(const WirelessAdbWifiProfile& profile);
    // Deleting an absent item succeeds.
    void deletePassword(const std::string& ssid);

    // The SSIDs this store saved and did not delete since, the last saved or used first.
    std::vector<std::string> savedSsids() { return savedNames_.names(); }
    // A saved profile went into a QR code: its name moves to the front of savedSsids.
    void noteUsed(const std::string& ssid) { savedNames_.noteUsed(ssid); }

    std::optional<std::string> password(const std::string& ssid);
    void savePassword(const std::string& password, const std::string& ssid);

private:
    std::shared_ptr<SecretStore> secrets_;
    std::mutex lock_;
    std::map<std::string, WirelessAdbWifiProfile> cachedProfiles_;
    std::set<std::string> unavailableSsids_;
    std::set<std::string> attemptedSsids_;
    SavedWifiNames savedNames_;
};

}  // namespace orvan
