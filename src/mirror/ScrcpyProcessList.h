#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "foundation/ProcessRunner.h"

namespace orvan {

// The system's process list in the form of "ps -axo pid=,command=" (read from /proc), of the
// processes that mention "scrcpy". May throw.
// Injected so that tests can hand the launcher any listing they like.
using ProcessListRunner = std::function<FiniteRun()>;

ProcessListRunner systemProcessListRunner();

// The pids of the scrcpy processes in a `ps -axo pid=,command=` listing that mirror `target`,
// in listing order. A line counts when its command mentions "scrcpy" and passes "-s" followed by
// exactly this target: the target must end at a blank or at the end of the line, so that
// "-s ABC" never claims the window of "-s ABC123". Lines that are malformed (no command, a pid
// that is not a positive 32-bit number) are skipped.
std::vector<int32_t> scrcpyProcessIdsInListing(std::string_view listing, std::string_view target);

}  // namespace orvan
