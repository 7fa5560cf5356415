#pragma once

#include <functional>
#include <optional>
#include <string>

#include "adb/AdbRunner.h"
#include "adb/AdbTargetProbe.h"
#include "adb/ConnectedAdbDevice.h"
#include "adb/DeviceDiscovery.h"
#include "foundation/ToolLocation.h"
#include "mirror/ConnectedTarget.h"
#include "mirror/MirrorTargets.h"
#include "mirror/ScrcpyLauncher.h"
#include "mirror/TargetReadiness.h"
#include "mirror/WirelessAdbConnector.h"
#include "platform/Clock.h"

namespace orvan {

// The start, stop and disconnect operations behind the user's buttons and the scan callback:
// mirror a device over Wi-Fi (switching a USB device to wireless first when needed), mirror a
// wireless target the scan callback verified with one automatic recovery of a broken transport,
// close mirror windows, and disconnect wireless ADB. Every start ends in startScrcpy.
//
// Every operation blocks its thread (a start for up to tens of seconds) and is called on a
// background queue. Sleeps use the injected clock. Starts for different glasses run side by
// side; the launcher keeps two starts for the same glasses to one window.
class MirrorOrchestrator {
public:
    using RetryHandler = std::function<void()>;
    using ShouldContinue = ScrcpyLauncher::ShouldContinue;

    static constexpr double kResponsiveTimeout = 4.0;
    static constexpr double kStaleDisconnectTimeout = 4.0;
    static constexpr double kTcpipTimeout = 20.0;
    static constexpr double kTcpipSettleDelay = 1.0;
    static constexpr double kDisconnectTimeout = 8.0;
    static constexpr double kRecoveryDelay = 0.75;
    static constexpr double kRecoveryConnectTimeout = 4.0;
    static constexpr double kRecoveryAuthorizationWait = 8.0;

    struct Parts {
        const AdbRunner& runner;
        const ToolLocation& tools;
        Clock& clock;
        const DeviceDiscovery& discovery;
        const AdbTargetProbe& probe;
        const TargetReadiness& readiness;
        const WirelessAdbConnector& connector;
        ConnectedTarget& connectedTarget;
        MirrorTargets& targets;
        ScrcpyLauncher& launcher;
    };
    explicit MirrorOrchestrator(Parts parts) : parts_(parts) {}

    // Mirrors the given device, else the preferred one, else the first attached one; returns the
    // wireless target it mirrors through. A recent device is reconnected by its address.
    std::string startWirelessMirror(const std::optional<ConnectedAdbDevice>& targetDevice = std::nullopt);
    std::string startWirelessGlassShellMirror(const std::optional<ConnectedAdbDevice>& targetDevice = std::nullopt);
    // Switches a USB device to wireless ADB (tcpip 5555, connect to its wlan0 address) and mirrors
    // the new target. A stale target of the same glasses is forgotten when the address changed.
    std::string startWirelessMirrorFromUsb(const ConnectedAdbDevice& device, bool glassShell,
                                           const std::optional<std::string>& mirrorIdentity,
                                           const std::optional<std::string>& staleTarget);
    ConnectedAdbDevice recentDeviceFromUsb(const std::string& serial) const;

    // The scan callback's start: the wireless target is already verified. Returns the device's
    // address (or the host part of its serial).
    std::string startVerifiedWirelessMirror(const ConnectedAdbDevice& targetDevice, const RetryHandler& onRetry,
                                            const ShouldContinue& shouldContinue, AdbServerScope serverScope);
    // startScrcpy, and when it fails because the transport broke, one targeted recovery of that
    // transport and a second start. `onRetry` is called once, before the recovery.
    void startScrcpyWithWirelessTransportRecovery(const std::string& target, bool glassShell,
                                                  const std::optional<std::string>& mirrorIdentity,
                                                  const RetryHandler& onRetry, const ShouldContinue& shouldContinue,
                                                  AdbServerScope serverScope);

    // Closes every mirror window (or those of one device); ADB connections stay.
    void stopMirror();
    void stopMirror(const std::optional<ConnectedAdbDevice>& targetDevice);
    // Closes the windows and disconnects wireless ADB (all, or the device's targets).
    void disconnect();
    void disconnect(const std::optional<ConnectedAdbDevice>& targetDevice);
    // Disconnects ip:port from the private and the shared server; failures are ignored.
    void disconnectWirelessAdb(const std::string& ip, int port = kWirelessAdbPort);

    // Whether a window shows these glasses, by identity, serial or mapped wireless target.
    bool isMirroring(const ConnectedAdbDevice& device) const;

    // Told at the start of every stop (and so of every disconnect): the glasses' mirror
    // identity, or none for all. Set once, before any stop can run.
    // Told of every stop before it runs: the glasses' mirror identity (none: all of them) and why.
    using StopListener =
        std::function<void(const std::optional<std::string>& mirrorIdentity, const std::string& reason)>;
    void setOnStop(StopListener listener) {
        onStop_ = std::move(listener);
    }

private:
    std::string startWirelessMirror(const std::optional<ConnectedAdbDevice>& targetDevice, bool glassShell);
    std::string startStaleWirelessMirror(const ConnectedAdbDevice& device, const AdbDevices& devices, bool glassShell);
    // `adb disconnect <target>` on the shared server whose status and output do not matter; its
    // launch failure or time-out is thrown.
    void disconnectQuietly(const std::string& target) const;
    void recoverTransport(const std::string& target, const std::optional<AdbTargetState>& state,
                          const std::exception_ptr& firstError, AdbServerScope serverScope);
    void log(const std::string& message) const { (*parts_.runner.log())(message); }

    Parts parts_;
    StopListener onStop_;
};

}  // namespace orvan
