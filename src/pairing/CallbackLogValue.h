#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace orvan {

// A value from the network made safe for one log line: control characters become blanks, the
// result is trimmed and cut to 300 characters; absent or blank gives "-". Keeps a peer from
// forging log lines or flooding one line.
std::string callbackLogValue(std::optional<std::string_view> value);

}  // namespace orvan
