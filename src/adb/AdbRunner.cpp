#include "adb/AdbRunner.h"

#include "foundation/MirrorError.h"
#include "foundation/ProcessRunner.h"
#include "foundation/Text.h"

namespace orvan {

AdbRunner::AdbRunner(std::filesystem::path adb, int privatePort, SharedLogSink log)
    : adb_(std::move(adb)), privatePort_(privatePort), log_(log ? std::move(log) : std::make_shared<LogSink>()) {}

std::filesystem::path AdbRunner::binaryFor(AdbServerScope scope) const {
    if (scope == AdbServerScope::sharedDevelopment && sharedBinaryResolver_) {
        if (auto other = sharedBinaryResolver_()) return *other;
    }
    return adb_;
}

std::vector<std::string> AdbRunner::argumentList(const std::vector<std::string>& arguments,
                                                 const std::optional<std::string>& serial, AdbServerScope scope) const {
    std::vector<std::string> list;
    if (auto port = scopePort(scope, privatePort_)) {
        list.push_back("-P");
        list.push_back(std::to_string(*port));
    }
    if (serial) {
        list.push_back("-s");
        list.push_back(*serial);
    }
    list.insert(list.end(), arguments.begin(), arguments.end());
    return list;
}

CommandResult AdbRunner::runAdb(const std::vector<std::string>& arguments, const AdbCall& call) const {
    const double timeout = call.timeout.count();
    const bool check = call.check, logCommand = call.log;
    const AdbServerScope scope = call.scope;
    auto binary = binaryFor(scope);
    auto list = argumentList(arguments, call.serial, scope);
    std::vector<std::string> command{binary.string()};
    command.insert(command.end(), list.begin(), list.end());
    std::string commandLine = text::joined(command, " ");

    if (abandon_.stopRequested()) throw MirrorError::cancelled();
    if (invocationObserver_) invocationObserver_(AdbInvocation{command, timeout, check, logCommand, scope});
    if (logCommand) (*log_)("$ " + commandLine);
    ProcessSpec spec{binary.string(), list, {}, {}};
    FiniteRun run = commandRunner_ ? commandRunner_(spec, call.timeout) : runFiniteUnlessAbandoned(spec, call.timeout, abandon_);
    if (run.timedOut && abandon_.stopRequested()) throw MirrorError::cancelled();
    if (run.timedOut) throw MirrorError::of(MirrorError::Kind::commandTimedOut, "命令超时: " + commandLine);

    std::string output = text::decodedTrimmed(run.bytes);
    if (logCommand && !output.empty()) (*log_)(output);
    if (check && run.status != 0) throw MirrorError::message(output.empty() ? "命令失败: " + commandLine : output);
    if (call.rawOutput) *call.rawOutput = std::move(run.bytes);
    return CommandResult{std::move(command), run.status, std::move(output)};
}

}  // namespace orvan
