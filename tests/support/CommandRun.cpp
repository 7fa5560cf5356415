#include "support/CommandRun.h"

#include "foundation/ProcessRunner.h"

namespace orvan::testing {

CommandResult runCommand(const std::vector<std::string>& argv, std::chrono::milliseconds timeout) {
    const FiniteRun run = runFinite(ProcessSpec{argv.front(), {argv.begin() + 1, argv.end()}, {}, {}}, timeout);
    return CommandResult{run.timedOut ? -1 : run.status, run.bytes, run.timedOut};
}

}  // namespace orvan::testing
