#include "foundation/ProcessRunner.h"

#include "foundation/Text.h"

namespace orvan {

FiniteRun runFinite(const ProcessSpec& spec, Seconds timeout) {
    auto child = ChildProcess::launch(spec);
    auto deadline =
        std::chrono::steady_clock::now() + std::chrono::duration_cast<std::chrono::steady_clock::duration>(timeout);
    FiniteRun run;
    bool exited = child->waitForExit(deadline, [&run](std::string_view chunk) { run.bytes.append(chunk); });
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
