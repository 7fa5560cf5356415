#pragma once

#include <mutex>
#include <string>

#include "adb/AdbRunner.h"
#include "adb/AdbServerScope.h"
#include "foundation/ToolLocation.h"
#include "platform/Clock.h"

namespace orvan {

// Prefix of a wireless-connect failure that asks the caller to recover the shared server.
inline constexpr const char* kAdbServerRecoveryRequiredMarker = "ADB_SERVER_RECOVERY_REQUIRED:";

// True when a failure text reads like an unreachable network or a time-out (any letter case):
// the kind of failure a wedged adb server produces, as opposed to a refused key.
bool isSharedAdbServerRecoveryCandidate(const std::string& failureText);

// The app's own adb server on 127.0.0.1:<private port>, used for mirroring so that connecting and
// resetting wireless transports never disturbs the developer's shared server (which an IDE also
// uses). Nothing here ever starts, restarts or kills the shared server: when the private one
// misbehaves, a short circuit breaker sends scan sessions to the shared server instead.
//
// Every command runs with the private scope, no serial, check off and logging off. Start,
// restart and stop are serialised by one lock that is held while their commands run (up to
// 13 s for a restart); the ready flag and the breaker deadline are only touched under it.
class PrivateAdbServer {
public:
    static constexpr double kSuppressionPeriod = 300.0;  // seconds the breaker stays open
    static constexpr double kStartTimeout = 8.0;
    static constexpr double kRestartKillTimeout = 5.0;
    static constexpr double kExitKillTimeout = 2.0;

    PrivateAdbServer(const AdbRunner& runner, const ToolLocation& tools, Clock& clock);

    // Starts the server unless an earlier start succeeded (then no command runs). Logs the
    // outcome unless `silent`. Returns whether the server is ready.
    bool preparePrivateWirelessAdbServer(bool silent);
    // The server a new scan session should use: the shared one while the breaker is open or when
    // the private server cannot be prepared.
    AdbServerScope preferredScanAdbServerScope();
    // Opens the breaker for 300 s (replacing an earlier deadline); readiness is left as it is.
    void suppressPrivateWirelessAdbTemporarily(const std::string& reason);
    // Closes the breaker and forgets readiness, so the next preparation starts the server again.
    void resetPrivateWirelessAdbCircuitBreaker(const std::string& reason);
    // kill-server then start-server. Returns whether the server is ready afterwards.
    bool restartPrivateWirelessAdbServer();
    // kill-server at application exit, whether or not this run started the server.
    void stopPrivateWirelessAdbServer();

    bool isReady() const;
    bool isSuppressed() const;

private:
    CommandResult run(const char* command, double timeout) const;
    void log(const std::string& message) const { (*runner_.log())(message); }
    std::string portText() const { return std::to_string(runner_.privatePort()); }

    const AdbRunner& runner_;
    const ToolLocation& tools_;
    Clock& clock_;
    mutable std::mutex lock_;  // privateAdbServerLock
    bool ready_ = false;
    SteadyTime suppressedUntil_ = SteadyTime::min();
};

}  // namespace orvan
