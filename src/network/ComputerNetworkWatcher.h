#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>

#include "foundation/LogSink.h"
#include "network/LanIPv4Address.h"
#include "platform/Clock.h"

namespace orvan {

// Watches the computer's network (Wi-Fi name, LAN interface, LAN address) from the main thread's
// refresh tick and reports each change once, so that the scan page can regenerate its QR code.
// The reads block (Wi-Fi tools), so they run in the background and their result comes back on
// the main queue. Create with std::make_shared: pending results hold it weakly.
class ComputerNetworkWatcher : public std::enable_shared_from_this<ComputerNetworkWatcher> {
public:
    struct Sources {
        std::function<std::optional<std::string>()> wifiName;            // getComputerWifiName
        std::function<std::optional<LanInterfaceAddress>()> lanAddress;  // currentLanIPv4Address
    };
    struct Hooks {
        std::function<void(const std::string&)> showWifiName;  // the status row's label
        // The network changed: reset the private server's breaker (kChangeReason), regenerate.
        std::function<void()> networkChanged;
        LogFunction log;
    };
    static constexpr const char* kChangeReason = "电脑网络发生变化";
    static constexpr const char* kChangeLogLine =
        "检测到电脑网络变化：旧二维码和 session 已失效，正在按当前 Wi-Fi/IP 重新生成。";

    ComputerNetworkWatcher(Sources sources, Hooks hooks, Clock& clock = SystemClock::shared());

    // "SSID|interface|address", "-" for each part that is missing.
    static std::string identityText(const std::optional<std::string>& wifiName,
                                    const std::optional<LanInterfaceAddress>& lan);

    // checkComputerNetworkChangeIfNeeded (main thread): at most one check every 2 s and one at a
    // time; the baseline check only records the identity.
    void checkIfNeeded(bool setBaselineOnly);
    // getCachedComputerWifiName (main thread): the last name read, "-" when none. Older than 5 s,
    // it starts a fresh read in the background instead of blocking the main thread.
    std::string cachedWifiName();
    bool isCheckInProgress() const { return checkInProgress_; }

private:
    void apply(const std::optional<std::string>& wifiName, const std::optional<LanInterfaceAddress>& lan,
               bool setBaselineOnly);

    Sources sources_;
    Hooks hooks_;
    Clock& clock_;
    std::string cachedWifiName_ = "-";
    std::optional<SteadyTime> lastWifiRefresh_;
    std::optional<std::optional<LanInterfaceAddress>> lastLan_;
    std::optional<std::string> lastIdentity_;
    std::optional<SteadyTime> lastCheck_;
    bool checkInProgress_ = false;
    bool refreshInProgress_ = false;
};

}  // namespace orvan
