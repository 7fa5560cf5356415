#pragma once

#include <array>
#include <functional>
#include <string>

#include "adb/AdbRunner.h"
#include "adb/AdbTargetProbe.h"
#include "adb/PrivateAdbServer.h"
#include "foundation/ToolLocation.h"
#include "mirror/ConnectedTarget.h"
#include "mirror/LocalNetworkProbe.h"
#include "mirror/TargetReadiness.h"
#include "mirror/WirelessConnectFailure.h"
#include "platform/Clock.h"

namespace orvan {

// Makes the glasses' ADB daemon (ip:port over Wi-Fi) a live, answering transport of one adb
// server, robustly: probes the port first, reuses a transport that already answers, connects,
// waits for the echo, sits out the user's authorization prompt on the glasses, resets a
// half-registered transport of this target only, retries four times (0.4, 1, 2, 4 s) while the
// glasses' network settles, and restarts the private server once when only that server is
// broken. Every failure ends in one WirelessConnectFailure for the caller, whose kind tells
// whether to ask for local-network access or to blame the shared server.
//
// Blocks its thread for up to tens of seconds; call it on a background queue. Sleeps use the
// injected clock; the adb commands and the port probe run in real time.
// How one wireless connect runs, named at the call site:
//   connector.tryConnectWirelessAdb(ip, port, {.timeout = 4.0, .onFailure = report, .scope = scope});
struct WirelessConnectCall {
    double timeout = 5.0;
    // Silent: no log line and no command echo.
    Logging logging = Logging::logged;
    std::function<void(const WirelessConnectFailure&)> onFailure = nullptr;
    AdbServerScope scope = AdbServerScope::sharedDevelopment;
    // With the private scope: give up after the first connect when no transport formed, so the
    // caller can move to the shared server at once.
    bool preferImmediateSharedFallback = false;
};

class WirelessAdbConnector {
public:
    using FailureHandler = std::function<void(const WirelessConnectFailure&)>;

    static constexpr std::array<double, 4> kRetryDelays = {0.4, 1.0, 2.0, 4.0};
    static constexpr double kPrecheckProbeTimeout = 1.2;
    static constexpr double kRetryProbeTimeout = 0.6;
    static constexpr double kAuthorizationWait = 8.0;

    WirelessAdbConnector(const AdbRunner& runner, const ToolLocation& tools, Clock& clock, const AdbTargetProbe& probe,
                         const TargetReadiness& readiness, LocalNetworkProbe& localNetwork,
                         PrivateAdbServer& privateServer, ConnectedTarget& connectedTarget);

    // True when ip:port is a live, answering transport of `serverScope` (and then it is the
    // connected target). Never throws: every failure reaches `onFailure` (on this thread, once,
    // just before returning false).
    bool tryConnectWirelessAdb(const std::string& ip, int port, const WirelessConnectCall& call = {}) const;

    // The plain connect to ip:5555 on the shared server (switching a USB device to Wi-Fi,
    // reconnecting a recent device). Returns the target; throws MirrorError with the
    // formatAdbConnectError text, or the command's own error.
    std::string connectWifiAdb(const std::string& ip) const;

private:
    class Attempt;

    const AdbRunner& runner_;
    const ToolLocation& tools_;
    Clock& clock_;
    const AdbTargetProbe& probe_;
    const TargetReadiness& readiness_;
    LocalNetworkProbe& localNetwork_;
    PrivateAdbServer& privateServer_;
    ConnectedTarget& connectedTarget_;
};

}  // namespace orvan
