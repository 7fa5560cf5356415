#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>

#include "adb/AdbRunner.h"
#include "adb/AdbServerScope.h"
#include "foundation/ToolLocation.h"
#include "platform/Clock.h"

namespace orvan {

// True when a failure text reads like an unreachable network or a time-out (any letter case):
// the kind of failure a wedged adb server produces, as opposed to a refused key.
bool isSharedAdbServerRecoveryCandidate(const std::string& failureText);

// The app's own adb server on 127.0.0.1:<private port>, used for mirroring so that connecting and
// resetting wireless transports never disturbs the developer's shared server (which an IDE also
// uses). Nothing here ever starts, restarts or kills the shared server: when the private one
// misbehaves, a short circuit breaker sends scan sessions to the shared server instead.
//
// Every command runs with the private scope, no serial, check off and logging off. Start,
// restart and stop run one at a time (a later one waits, on its own background thread, for the
// command in flight), but no lock is held while a command runs: the state sits under a short
// mutex, and a reset (the main thread, on a wake or a network change) only bumps a generation and
// returns at once. A command that finishes after a reset leaves readiness unknown. Once stopped
// for the app's exit the server stays stopped: preparations and restarts run nothing and fail.
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
    // kill-server at application exit, whether or not this run started the server. Latches: no
    // later call starts the server again.
    void stopPrivateWirelessAdbServer();

    bool isReady() const;
    bool isSuppressed() const;
    bool isStopped() const;

private:
    // Waits (off the main thread) until no command is in flight, then claims the slot; false once
    // stopped, unless `evenWhenStopped`. Returns the generation the command starts in.
    bool beginCommand(std::unique_lock<std::mutex>& lock, uint64_t& generation, bool evenWhenStopped = false);
    void endCommand(std::unique_lock<std::mutex>& lock);
    CommandResult run(const char* command, double timeout) const;
    void log(const std::string& message) const { (*runner_.log())(message); }
    std::string portText() const { return std::to_string(runner_.privatePort()); }

    const AdbRunner& runner_;
    const ToolLocation& tools_;
    Clock& clock_;
    mutable std::mutex lock_;  // short reads and updates of the fields below only
    std::condition_variable idle_;
    bool commandInFlight_ = false;
    bool stopped_ = false;
    uint64_t generation_ = 0;  // moves on every reset and stop
    bool ready_ = false;
    SteadyTime suppressedUntil_ = SteadyTime::min();
};

}  // namespace orvan
