#pragma once

#include <chrono>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "adb/AdbServerScope.h"
#include "foundation/CommandResult.h"
#include "foundation/LogSink.h"
#include "foundation/ProcessRunner.h"

namespace orvan {

// How one adb command runs, named at the call site:
//   runner.runAdb({"shell", "echo", "x"}, {.timeout = 3s, .serial = target, .scope = scope});
struct AdbCall {
    std::chrono::duration<double> timeout = std::chrono::seconds(8);
    // A non-zero exit status throws MirrorError with adb's output.
    bool check = true;
    std::optional<std::string> serial = std::nullopt;
    // Writes "$ <command line>" and the output to the activity log.
    bool log = false;
    AdbServerScope scope = AdbServerScope::sharedDevelopment;
    // When set, receives adb's raw output, untrimmed (for output that need not be UTF-8).
    std::string* rawOutput = nullptr;
};

// One command as runAdb is about to start it: the full command line (binary first) and the
// caller's choices. Seen by the invocation observer (traces, and tests that check time-outs).
struct AdbInvocation {
    std::vector<std::string> command;
    double timeout = 0;
    bool check = false;
    bool logCommand = false;
    AdbServerScope scope = AdbServerScope::sharedDevelopment;
};

// The one way every adb command runs. Arguments are ordered "-P" <private port> (private scope
// only), "-s" <serial>, then the command. Blocks the calling thread; safe on many threads.
class AdbRunner {
public:
    // Picks the binary for shared-scope commands (another adb version may own the shared server);
    // nullopt means our own tool.
    using SharedBinaryResolver = std::function<std::optional<std::filesystem::path>()>;
    using InvocationObserver = std::function<void(const AdbInvocation&)>;
    // Runs one finished command line to its end or its time-out; the default starts the process.
    using CommandRunner = std::function<FiniteRun(const ProcessSpec&, std::chrono::duration<double> timeout)>;

    AdbRunner(std::filesystem::path adb, int privatePort, SharedLogSink log);

    // Throws LaunchError when adb cannot start, MirrorError "命令超时: <line>" on time-out, and
    // with `check` MirrorError with the output (or "命令失败: <line>") on a non-zero status.
    CommandResult runAdb(const std::vector<std::string>& arguments, const AdbCall& call) const;

    const std::filesystem::path& adbPath() const { return adb_; }
    int privatePort() const { return privatePort_; }
    const SharedLogSink& log() const { return log_; }
    void setSharedBinaryResolver(SharedBinaryResolver resolver) { sharedBinaryResolver_ = std::move(resolver); }
    // Called on the running thread before every launch. Set it before the runner is shared.
    void setInvocationObserver(InvocationObserver observer) { invocationObserver_ = std::move(observer); }
    // Replaces the process launch (scripted adb in tests, in-process). Set it before sharing.
    void setCommandRunner(CommandRunner runner) { commandRunner_ = std::move(runner); }
    // Once set, commands in flight end as on a time-out and later ones launch nothing; both throw
    // the cancellation kind. Set it before sharing.
    void setAbandonToken(StopToken token) { abandon_ = std::move(token); }
    // The binary a command of this scope runs.
    std::filesystem::path binaryFor(AdbServerScope scope) const;

    // The argument list of step one: scope and serial options, then the command.
    std::vector<std::string> argumentList(const std::vector<std::string>& arguments,
                                          const std::optional<std::string>& serial, AdbServerScope scope) const;

private:
    std::filesystem::path adb_;
    int privatePort_;
    SharedLogSink log_;
    SharedBinaryResolver sharedBinaryResolver_;
    InvocationObserver invocationObserver_;
    CommandRunner commandRunner_;
    StopToken abandon_;
};

}  // namespace orvan
