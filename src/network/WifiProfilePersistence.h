#pragma once

#include <optional>
#include <string>

#include "network/WirelessAdbWifiCredentialStore.h"
#include "network/WirelessAdbWifiProfileCache.h"

namespace orvan {

// What keeping (or forgetting) a profile's credentials came to.
struct WifiPersistOutcome {
    bool saved = false;                  // the keyring now holds the profile
    std::optional<std::string> failure;  // the keyring error's text when it refused
    std::string suffix;                  // the setup window's message suffix
};

// persist: with "remember" on (and a network with a password) saves the profile in the keyring,
// otherwise deletes any stored item of its SSID. A failure is reported, never thrown: the QR code
// or the home profile is still produced.
WifiPersistOutcome persistWifiProfile(WirelessAdbWifiCredentialStore& store, const WirelessAdbWifiProfile& profile,
                                      bool remember);

// persist, then keep the profile in this run's cache, marked persisted only when the keyring
// took it (a refused save stays usable for the run, as not saved).
WifiPersistOutcome persistAndCacheWifiProfile(WirelessAdbWifiCredentialStore& store, WirelessAdbWifiProfileCache& cache,
                                              const WirelessAdbWifiProfile& profile, bool remember);

// The logic of applyWifiProfileToHome for a validated profile: persist, make it the home
// profile, post "WirelessAdbWifiProfileUpdated". Returns the operation message.
std::string applyWifiProfileToHome(WirelessAdbWifiCredentialStore& store, WirelessAdbWifiProfileCache& cache,
                                   const WirelessAdbWifiProfile& profile, bool remember);

}  // namespace orvan
