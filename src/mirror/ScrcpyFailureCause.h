#pragma once

#include <string>
#include <string_view>

namespace orvan {

// Why a scrcpy client ended, read once from its output. Only the causes the app acts on are
// told apart; the clients' own texts (1.25 to 3.x) decide, never the generic "Server connection
// failed" that follows every failed start.
enum class ScrcpyFailureCause {
    unknown,
    // The glasses went away under the client: disconnected, the connection lost, or no longer
    // in adb's list. Another start may work once the transport is back.
    transportLost,
    // The device-side server file belongs to another client version.
    versionMismatch,
    // The glasses have not allowed this computer's key.
    deviceUnauthorized,
    // adb lists the glasses, but offline.
    deviceOffline,
    // The client refused one of our options: it is older than it said.
    unsupportedOption,
};

struct ScrcpyFailure {
    ScrcpyFailureCause cause = ScrcpyFailureCause::unknown;
    // For a version mismatch: what the server and the client said they are (may be empty).
    std::string serverVersion;
    std::string clientVersion;
};

ScrcpyFailure classifyScrcpyFailure(std::string_view output);

}  // namespace orvan
