#pragma once

#include <string>

#include "foundation/CommandResult.h"

namespace orvan {

// How the wireless connect reads adb's texts. Every test lower-cases the text (ASCII letters) and
// searches it plainly, so other letter cases, surrounding noise and odd bytes change nothing.

// The glasses refused our key: waiting for the user on the glasses is the only way on.
bool isDefinitiveWirelessAuthenticationFailure(const std::string& text);
// The network is still settling (Wi-Fi switch, DHCP, adbd restarting): worth a retry.
bool isTransientWirelessConnectFailure(const std::string& text);
// `adb connect` took the target: status 0 and "connected" (also "already connected") in the output.
bool isAdbConnectSuccess(const CommandResult& result);
// The output names a transport the server already had.
bool saysAlreadyConnected(const std::string& output);

// Seconds for log texts: "2" for a whole number, else one decimal ("0.4").
std::string retryDelayDescription(double seconds);

// The user-facing explanation of a failed `adb connect` to ip:5555.
std::string formatAdbConnectError(const std::string& ip, const std::string& output);

}  // namespace orvan
