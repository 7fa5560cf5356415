#pragma once

#include <optional>
#include <string>

#include "adb/AdbRunner.h"
#include "adb/AdbServerScope.h"
#include "adb/AdbTransportState.h"

namespace orvan {

// What the glasses' shell echoes back to prove that a transport works end to end.
inline constexpr const char* kAdbReadyMarker = "__ORVAN_MIRROR_ADB_READY__";

// The two small tests everything that talks to a transport builds on: what state the server
// gives a target, and whether a command really makes the round trip through it. A transport
// can be listed as "device" while the TCP connection underneath is already dead, so the
// listing alone never proves that the glasses answer.
//
// Every command runs through runAdb with check off and logging off, on the caller's scope;
// none of these throws: a command that fails to launch or times out counts as "no answer".
// Holds only a reference to the runner; safe to use from many threads at once.
class AdbTargetProbe {
public:
    static constexpr double kStateQueryTimeout = 3.0;  // seconds, each of the two queries

    explicit AdbTargetProbe(const AdbRunner& runner) : runner_(runner) {}

    // The target's transport state: "device", "offline" or "unauthorized" straight from
    // `get-state`; otherwise (get-state fails, for example because the server answers
    // "error: device offline") the state column of the target's line in `adb devices`,
    // unchanged ("authorizing", "host", ...). nullopt when neither names the target; the listing
    // is not asked when get-state answers exactly that the server has no such device.
    std::optional<AdbTargetState> adbTargetState(const std::string& target, AdbServerScope scope) const;

    // True only when the state is "device" and the echo round trip succeeds within `timeout`.
    bool isAdbTargetResponsive(const std::string& target, double timeout, AdbServerScope scope) const;

    // The round trip alone, without the state query: `shell echo <marker>` ran, exited 0 and
    // printed the marker. For callers that have just checked the state themselves (polling
    // waits) or that need their own time-out for the echo.
    bool echoesReadyMarker(const std::string& target, double timeout, AdbServerScope scope) const;

    // The state column of `target`'s line in an `adb devices` listing (header line skipped),
    // nullopt when no line names it. Exposed for tests.
    static std::optional<std::string> stateInListing(const std::string& listing, const std::string& target);

private:
    const AdbRunner& runner_;
};

}  // namespace orvan
