#pragma once

#include <string>

namespace orvan {

// Why a wireless connect did not come up, for the caller's next step: ask for local-network
// access, say that the shared server (not the glasses) is at fault, or show adb's own words.
struct WirelessConnectFailure {
    enum class Kind {
        other,
        // The network refused while local-network access is still unconfirmed.
        localNetworkDenied,
        // The shared server failed although the glasses' port answers: the server needs looking
        // after, which the app never does to a server it does not own.
        sharedServerNeedsRecovery,
    };
    Kind kind = Kind::other;
    std::string text;  // adb's output or our own message; never empty after a failure
};

}  // namespace orvan
