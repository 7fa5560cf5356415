#pragma once

#include <functional>
#include <optional>
#include <string>

#include "adb/ConnectedAdbDevice.h"
#include "foundation/LogSink.h"
#include "pairing/WirelessAdbCallback.h"
#include "pairing/WirelessAdbCallbackBook.h"
#include "pairing/RejectionLogLimiter.h"
#include "pairing/ScanStatusSink.h"
#include "pairing/WirelessAdbCallbackResponse.h"
#include "platform/Dispatch.h"

namespace orvan {

// What a READY that is to be acted on hands to the connection task.
struct ScanMirrorRequest {
    ConnectedAdbDevice device;  // the wireless target: serial = target, kind "无线"
    WirelessAdbCallbackDevice callbackDevice;
    std::string target;  // ip:port as reported
    std::string sessionId;
    std::optional<std::string> configuredWifiName;
    std::optional<std::string> callbackHost;
    std::optional<std::string> callbackKey;
};

// The application's side of callback processing. `isMirroring` and `adbPublicKey` are called on
// the server's worker thread; the others on the main thread.
struct ScanSessionHooks {
    LogFunction onLog{};
    std::function<bool(const ConnectedAdbDevice&)> isMirroring{};
    std::function<std::optional<std::string>()> adbPublicKey{};
    std::function<void(const ConnectedAdbDevice&)> registerRunningMirror{};
    std::function<void(const ScanMirrorRequest&)> startWirelessMirrorFromCallback{};
    std::function<void(const WirelessAdbCallback&)> processDisableWirelessAdbCallback{};
    std::function<std::optional<std::string>()> configuredWifiName{};
    std::function<std::optional<std::string>()> callbackHost{};
};

// Answers the glasses' callbacks and keeps the bookkeeping that makes a READY act once. The app
// delegate owns it; handleWirelessAdbCallback is the callback server's handler. `status` (the scan
// page) is written on the main thread and must outlive the coordinator.
class ScanSessionCoordinator {
public:
    ScanSessionCoordinator(MainQueue& mainQueue, ScanStatusSink& status, ScanSessionHooks hooks);

    WirelessAdbCallbackBook& book() { return book_; }

    // The scan page's onSessionChanged (main thread).
    void sessionChanged(const std::string& oldId, const std::string& newId);
    // The scan page's onDisableSessionChanged (main thread).
    void disableSessionChanged(const std::string& sessionId) { book_.changeDisableSession(sessionId); }
    bool isCurrentReadyEnableCallback(const WirelessAdbCallback& callback) const;
    // Server worker thread: answers at once; any slow work goes to the main queue.
    WirelessAdbCallbackResponse handleWirelessAdbCallback(const WirelessAdbCallback& callback);
    // Main thread.
    void processWirelessAdbCallback(const WirelessAdbCallback& callback, bool shouldProcessEnable,
                                    const std::optional<std::string>& callbackKey);
    void updateWirelessMirrorAckStatus(const std::optional<std::string>& callbackKey, const std::string& status,
                                       const std::string& reason);
    bool releaseWirelessAdbCallbackState(const std::string& target, const std::string& reason);

private:
    void log(const std::string& line) const;
    // A callback of neither the enable session nor the disable code on show: any peer on the LAN
    // can post those, so they are answered at once, never queued, and logged within a budget.
    bool isForeign(const WirelessAdbCallback& callback) const;
    void logForeign(const WirelessAdbCallback& callback);

    MainQueue& main_;
    ScanStatusSink& status_;
    ScanSessionHooks hooks_;
    WirelessAdbCallbackBook book_;
    std::mutex foreignLogLock_;  // guards the two below; the lines are written after it is released
    RejectionLogLimiter foreignLog_;
    std::vector<std::string> foreignLines_;
};

// "ip:port" of the callback's device; none without a device.
std::optional<std::string> callbackTarget(const WirelessAdbCallback& callback);
// A device that can be connected: both flags set, an address after trimming, a port above 0.
bool hasUsableCallbackDevice(const WirelessAdbCallback& callback);
// The glasses reached at `target`, a wireless device. The hardware serial the glasses report, when
// they do, names the pair whatever its address: the same glasses back on a new address (a new
// DHCP lease in a classroom) are the same mirror, and a new scan of them takes over a mirror that
// is still trying their old address.
ConnectedAdbDevice wirelessTargetDevice(const std::string& target, const std::string& ip,
                                        const std::optional<std::string>& glassesSerial = std::nullopt);

}  // namespace orvan
