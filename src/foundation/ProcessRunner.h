#pragma once

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "platform/Clock.h"
#include "platform/Process.h"
#include "platform/TaskScope.h"

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
// As runFinite; a set `abandon` token also ends the run so, within a quarter second, and launches
// nothing when it is set already.
FiniteRun runFiniteUnlessAbandoned(const ProcessSpec& spec, Seconds timeout, const StopToken& abandon);

// How runSystemCommand runs one tool. The Wi-Fi tools need a fixed locale (nmcli translates its
// words and mangles non-ASCII names outside a UTF-8 one) and their failures print text that must
// not pass for an answer ("Error: NetworkManager is not running."), so they ask for a zero status.
struct SystemCommandOptions {
    std::map<std::string, std::optional<std::string>> environmentChanges = {};
    bool requireSuccess = false;
    Seconds timeout = Seconds(3.0);
};

// Runs a system tool for its output: the decoded text, untrimmed, or nothing on launch failure,
// time-out or output that is not UTF-8, and with requireSuccess on a non-zero exit status too.
// The one runner for every system tool.
std::optional<std::string> runSystemCommand(const std::string& executable, const std::vector<std::string>& arguments,
                                            const SystemCommandOptions& options = {});

}  // namespace orvan
