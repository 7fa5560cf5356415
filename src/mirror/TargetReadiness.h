#pragma once

#include <string>

#include "adb/AdbRunner.h"
#include "adb/AdbTargetProbe.h"
#include "platform/Clock.h"

namespace orvan {

// The bounded waits built on the state query and the echo probe: until a target answers, until
// the user authorizes the computer on the glasses, and the one-shot handling of an "offline"
// transport. A listed transport is not necessarily usable over Wi-Fi: it can be "offline" while
// the glasses show the prompt (or another computer holds it), "unauthorized", or "device" over a
// dead connection, so every wait ends only on a real echo round trip.
//
// Waits are polls against a deadline of the injected clock (0.08 s between transport checks,
// 0.25 s between authorization checks); the adb commands themselves run in real time. Safe on
// several threads at once; nothing here holds state.
class TargetReadiness {
public:
    static constexpr double kTransportPollInterval = 0.08;
    static constexpr double kAuthorizationPollInterval = 0.25;
    static constexpr double kOfflineAuthorizationGrace = 8.0;
    static constexpr double kOfflineReconnectAuthorizationGrace = 4.0;

    struct OfflineOutcome {
        bool connected = false;
        std::string failure;  // "offline" when not connected
        bool operator==(const OfflineOutcome&) const = default;
    };

    TargetReadiness(const AdbRunner& runner, const AdbTargetProbe& probe, Clock& clock);

    // The same as isAdbTargetResponsive.
    bool isWirelessAdbTargetReady(const std::string& target, double timeout, AdbServerScope scope) const;
    bool isWirelessAdbTargetReady(const std::string& target, AdbServerScope scope) const {
        return isWirelessAdbTargetReady(target, 1.0, scope);
    }

    // Polls the echo until the target answers or `timeout` has passed; the first check is always
    // made, however small the time-out. Each echo may take min(timeout, 1.5) s.
    bool waitForAdbTargetResponsive(const std::string& target, double timeout, AdbServerScope scope) const;

    // Waits up to `timeout` for the user to accept the debugging prompt on the glasses.
    bool waitForWirelessAdbAuthorization(const std::string& target, double timeout, Logging logging,
                                         AdbServerScope scope) const;

    // An "offline" transport: first keep it and wait 8 s for the user; then reset only this
    // target once (disconnect, connect) and wait again, which also covers a prompt briefly held by
    // another computer. `timeout` is the caller's connect time-out. Throws the error of the
    // disconnect command only; everything else folds into the outcome.
    OfflineOutcome waitForOfflineAuthorizationThenReconnectOnce(const std::string& target, double timeout,
                                                                Logging logging, AdbServerScope scope) const;

    // One quiet reconnect attempt of ip:port; true when the target answers afterwards.
    bool refreshWirelessAdbTargetOnce(const std::string& ip, int port, AdbServerScope scope) const;

private:
    void log(Logging logging, const std::string& message) const {
        if (logging == Logging::logged) (*runner_.log())(message);
    }

    const AdbRunner& runner_;
    const AdbTargetProbe& probe_;
    Clock& clock_;
};

}  // namespace orvan
