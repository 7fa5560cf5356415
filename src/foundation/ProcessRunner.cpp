#include "foundation/ProcessRunner.h"

#include <algorithm>

#include "foundation/Text.h"

namespace orvan {

FiniteRun runFinite(const ProcessSpec& spec, Seconds timeout) {
    return runFiniteUnlessAbandoned(spec, timeout, StopToken());
}

FiniteRun runFiniteUnlessAbandoned(const ProcessSpec& spec, Seconds timeout, const StopToken& abandon) {
    FiniteRun run;
    if (abandon.stopRequested()) {
        run.timedOut = true;
        return run;
    }
    auto child = ChildProcess::launch(spec);
    auto deadline =
        std::chrono::steady_clock::now() + std::chrono::duration_cast<std::chrono::steady_clock::duration>(timeout);
    // Looks at the abandon token between slices of the wait; the exit still ends each at once.
    constexpr auto kSlice = std::chrono::milliseconds(250);
    bool exited = false;
    for (;;) {
        auto now = std::chrono::steady_clock::now();
        exited = child->waitForExit(std::min(deadline, now + kSlice),
                                    [&run](std::string_view chunk) { run.bytes.append(chunk); });
        if (exited || std::chrono::steady_clock::now() >= deadline || abandon.stopRequested()) break;
    }
    if (!exited) {
        child->terminate();
        run.timedOut = true;
        run.bytes.clear();
        return run;  // the child object hands the pid to the reaper
    }
    run.status = child->exit()->status;
    return run;
}

std::optional<std::string> runSystemCommand(const std::string& executable, const std::vector<std::string>& arguments,
                                            const SystemCommandOptions& options) {
    FiniteRun run;
    try {
        run = runFinite(ProcessSpec{executable, arguments, options.environmentChanges, {}}, options.timeout);
    } catch (const LaunchError&) {
        return std::nullopt;
    }
    if (run.timedOut || !text::isValidUtf8(run.bytes)) return std::nullopt;
    if (options.requireSuccess && run.status != 0) return std::nullopt;
    return run.bytes;
}

}  // namespace orvan
