#pragma once

#include <cstdint>
#include <functional>

namespace orvan {

// "WirelessAdbWifiProfileUpdated": a Wi-Fi profile was applied or saved, so the scan page
// rebuilds its QR code. Observers run on the main queue (platform/Dispatch), whatever thread posts.
class WifiProfileUpdatedNotification {
public:
    static constexpr const char* kName = "WirelessAdbWifiProfileUpdated";
    using ObserverId = uint64_t;

    static ObserverId observe(std::function<void()> observer);
    static void stopObserving(ObserverId id);
    static void post();
};

}  // namespace orvan
