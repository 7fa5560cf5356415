#pragma once

#include <optional>
#include <string>

namespace orvan {

// The reply to a callback the server could decode.
struct WirelessAdbCallbackResponse {
    bool alreadyMirroring = false;
    std::optional<std::string> adbPublicKey{};  // only on the reply that starts a connection attempt
    bool adbAckSupported = true;
    bool adbConnected = false;
    bool mirrorAckSupported = true;
    std::string mirrorStatus = "STARTING";  // "STARTING", "RUNNING" or "FAILED"
    std::optional<std::string> sessionId{};
    bool operator==(const WirelessAdbCallbackResponse&) const = default;

    // Compact JSON with "ok": true; the key and session id only when present and not empty.
    std::string jsonBody() const;
};

// What the scan page shows for a failed enable report, and whether it is styled as permanent.
struct WirelessAdbFailureText {
    std::string text;
    bool permanent = false;
};

// Looks the glasses' error code up case-insensitively; unknown or absent codes get the general text.
WirelessAdbFailureText wirelessAdbFailureText(const std::optional<std::string>& errorCode);

}  // namespace orvan
