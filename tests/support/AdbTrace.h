#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace orvan::testing {

// One run of the tool folder's `adb`, as the tracing wrapper recorded it before handing over
// to the real adb.
struct AdbInvocation {
    std::vector<std::string> args;  // without argv[0]

    // The arguments after the global options (-s SERIAL, -P PORT, -H HOST, -L SPEC, -d, -e, ...).
    std::vector<std::string> command() const;
    // The -P port, if any.
    std::optional<std::string> serverPort() const;
    std::string commandLine() const;  // for failure messages
};

// Reads a trace file (one JSON object per line); lines that cannot be read are skipped.
std::vector<AdbInvocation> readAdbTrace(const std::filesystem::path& path);

}  // namespace orvan::testing
