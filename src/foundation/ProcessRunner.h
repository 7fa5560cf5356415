#pragma once

#include <optional>
#include <string>
#include <vector>

#include "platform/Clock.h"
#include "platform/Process.h"

namespace orvan {

// The outcome of a finite run: either the child exited (status and every byte it printed) or it
// overran its time-out and was sent the terminate request.
struct FiniteRun {
    bool timedOut = false;
    int status = 0;
    std::string bytes;
};

// Runs a child to completion with a time-out, stdout and stderr in one pipe that is drained while
// waiting. The wait ends as soon as the child exits. A child that overruns gets SIGTERM and is
// reaped in the background. Launch failures throw LaunchError.
FiniteRun runFinite(const ProcessSpec& spec, Seconds timeout);

// Runs a system tool for its output: the decoded text, untrimmed, or nothing on launch failure,
// time-out (3 s) or output that is not UTF-8. The exit status is not looked at.
std::optional<std::string> runSystemCommand(const std::string& executable, const std::vector<std::string>& arguments,
                                            Seconds timeout = Seconds(3.0));

}  // namespace orvan
