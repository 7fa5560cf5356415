#include "network/WirelessAdbWifiCredentialStore.h"

#include "foundation/Text.h"
#include "platform/LibsecretSecretStore.h"
#include "platform/Paths.h"

namespace orvan {

WirelessAdbWifiCredentialStore::WirelessAdbWifiCredentialStore(std::shared_ptr<SecretStore> secrets,
                                                               std::filesystem::path namesFile)
    : secrets_(std::move(secrets)), savedNames_(std::move(namesFile)) {}

WirelessAdbWifiCredentialStore& WirelessAdbWifiCredentialStore::shared() {
    static WirelessAdbWifiCredentialStore store(std::make_shared<LibsecretSecretStore>(),
                                                paths::appDataFolder() / "saved-wifi-names.json");
    return store;
}

std::optional<WirelessAdbWifiProfile> WirelessAdbWifiCredentialStore::profile(const std::string& ssid) {
    std::lock_guard lock(lock_);
    if (auto cached = cachedProfiles_.find(ssid); cached != cachedProfiles_.end()) return cached->second;
    if (unavailableSsids_.contains(ssid) || attemptedSsids_.contains(ssid)) return std::nullopt;
    attemptedSsids_.insert(ssid);

    SecretLookup lookup = secrets_->find(kService, ssid);
    if (lookup.status == secret_status::itemNotFound || lookup.status == secret_status::interactionNotAllowed) {
        unavailableSsids_.insert(ssid);
        return std::nullopt;
    }
    if (lookup.status != secret_status::success || !lookup.data) {
        unavailableSsids_.insert(ssid);
        throw WirelessAdbWifiCredentialError(lookup.status);
    }
    auto decoded = WirelessAdbWifiProfile::fromStoredJson(*lookup.data);
    if (!decoded && text::isValidUtf8(*lookup.data)) {
        // Older versions stored the bare password; the item is left in that form.
        decoded = WirelessAdbWifiProfile{.ssid = ssid, .password = *lookup.data, .securityType = "WPA"};
    }
    if (!decoded) {
        unavailableSsids_.insert(ssid);
        throw WirelessAdbWifiCredentialError(secret_status::decodeFailed);
    }
    cachedProfiles_[ssid] = *decoded;
    return decoded;
}

void WirelessAdbWifiCredentialStore::save(const WirelessAdbWifiProfile& profile) {
    std::lock_guard lock(lock_);
    int32_t status = secrets_->save(kService, profile.ssid, kLabelPrefix + profile.ssid, profile.toStoredJson());
    if (status != secret_status::success) throw WirelessAdbWifiCredentialError(status);
    cachedProfiles_[profile.ssid] = profile;
    unavailableSsids_.erase(profile.ssid);
    attemptedSsids_.insert(profile.ssid);
    savedNames_.noteUsed(profile.ssid);
}

void WirelessAdbWifiCredentialStore::deletePassword(const std::string& ssid) {
    std::lock_guard lock(lock_);
    int32_t status = secrets_->remove(kService, ssid);
    if (status != secret_status::success && status != secret_status::itemNotFound) {
        throw WirelessAdbWifiCredentialError(status);
    }
    cachedProfiles_.erase(ssid);
    unavailableSsids_.insert(ssid);
    attemptedSsids_.insert(ssid);
    savedNames_.forget(ssid);
}

std::optional<std::string> WirelessAdbWifiCredentialStore::password(const std::string& ssid) {
    auto stored = profile(ssid);
    if (!stored) return std::nullopt;
    return stored->password;
}

void WirelessAdbWifiCredentialStore::savePassword(const std::string& password, const std::string& ssid) {
    save(WirelessAdbWifiProfile{.ssid = ssid, .password = password, .securityType = "WPA"});
}

}  // namespace orvan
