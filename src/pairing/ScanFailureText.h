#pragma once

#include <optional>
#include <string>

namespace orvan {

// The user's message for a scan connection that did not come up, chosen from the connect
// failures' text (markers and adb's words, case ignored) in a fixed order. `network` is the
// Wi-Fi named by the code, or empty.
std::string scanConnectionFailureText(const std::string& failure, const std::string& ip, const std::string& network,
                                      const std::optional<std::string>& callbackHost);

}  // namespace orvan
