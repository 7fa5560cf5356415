#pragma once

#include <chrono>
#include <string>
#include <vector>

namespace orvan::testing {

struct CommandResult {
    int exitCode = -1;  // the exit status; -1 after a time-out
    std::string out;    // standard output and error, as the program wrote them
    bool timedOut = false;
};

// Runs a program (argv[0] is its path) with this process's environment through the app's own
// finite run: output drained while it runs, a run that overruns `timeout` is terminated and
// reaped in the background. Launch failures throw.
CommandResult runCommand(const std::vector<std::string>& argv, std::chrono::milliseconds timeout);

}  // namespace orvan::testing
