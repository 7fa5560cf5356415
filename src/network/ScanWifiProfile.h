#pragma once

#include <optional>

#include "network/ComputerWifiName.h"
#include "network/WirelessAdbWifiCredentialStore.h"
#include "network/WirelessAdbWifiProfileCache.h"

namespace orvan {

// The profile the scan page puts into its enable QR code (its wifiProfileProvider): the applied
// home profile when valid, else the current network's profile from this run's cache or from the
// keyring when its security matches. Nothing means the page asks for the password. Blocking
// (Wi-Fi tools, keyring); keyring failures are swallowed here.
std::optional<WirelessAdbWifiProfile> resolveScanWifiProfile(WirelessAdbWifiProfileCache& cache,
                                                             WirelessAdbWifiCredentialStore& store,
                                                             const ComputerWifiName& wifi);

}  // namespace orvan
