#pragma once

#include <chrono>
#include <string>
#include <vector>

namespace orvan::testing {

struct CommandResult {
    int exitCode = -1;  // the exit status, or 128 + signal number
    std::string out;
    std::string err;
    bool timedOut = false;
};

// Runs a program (looked up in PATH when the name has no slash) with this process's
// environment, collecting standard output and error separately. A run that overruns `timeout`
// is terminated (SIGTERM, then SIGKILL) and reaped.
CommandResult runCommand(const std::vector<std::string>& argv, std::chrono::milliseconds timeout);

}  // namespace orvan::testing
