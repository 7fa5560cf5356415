#pragma once

#include <filesystem>
#include <optional>
#include <string_view>

#include "platform/Clock.h"

namespace orvan {

// The adb protocol version N of "Android Debug Bridge version 1.0.N": the number an adb client
// compares with its server's before every request, killing a server whose number differs.
// Nothing when no line has exactly that shape.
std::optional<int> parseAdbProtocolVersion(std::string_view versionOutput);

// Runs `<adb> version`, which only prints and never contacts a server, and parses its output.
// Nothing when it cannot start, overruns `timeout`, exits non-zero or prints anything else.
std::optional<int> readAdbProtocolVersion(const std::filesystem::path& adb, Seconds timeout);

}  // namespace orvan
