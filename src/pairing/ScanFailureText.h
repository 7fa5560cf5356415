#pragma once

#include <optional>
#include <string>

#include "mirror/WirelessConnectFailure.h"

namespace orvan {

// The user's message for a scan connection that did not come up, chosen by the failure's kind,
// then by adb's words (case ignored) in a fixed order. `network` is the Wi-Fi named by the code,
// or empty.
std::string scanConnectionFailureText(const WirelessConnectFailure& failure, const std::string& ip,
                                      const std::string& network, const std::optional<std::string>& callbackHost);

}  // namespace orvan
