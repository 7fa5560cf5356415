#include "standin/StandinHarness.h"

#include <csignal>
#include <sstream>

#include "support/Wait.h"

extern char** environ;

namespace orvan::testing {
namespace {

using Clock = std::chrono::steady_clock;

std::vector<std::string> linesOf(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream stream(text);
    for (std::string line; std::getline(stream, line);) {
        if (!line.empty()) lines.push_back(line);
    }
    return lines;
}

}  // namespace

RunningChild::RunningChild(const ProcessSpec& spec) : child_(ChildProcess::launch(spec)) {}

RunningChild::~RunningChild() {
    if (!child_->isRunning()) return;
    child_->terminate();
    if (!waitForExit(std::chrono::seconds(3))) {
        child_->sendSignal(SIGKILL);
        child_->waitForExit();
    }
}

bool RunningChild::collect() {
    return child_->readAvailable([this](std::string_view chunk) { output_.append(chunk); });
}

bool RunningChild::waitForOutput(std::string_view needle, std::chrono::milliseconds timeout) {
    waitUntil(
        [&] {
            const bool open = collect();
            return output_.find(needle) != std::string::npos || (!open && !child_->isRunning());
        },
        timeout);
    return output_.find(needle) != std::string::npos;
}

std::optional<ProcessExit> RunningChild::waitForExit(std::chrono::milliseconds timeout) {
    if (!child_->waitForExit(Clock::now() + timeout, [this](std::string_view chunk) { output_.append(chunk); })) {
        return std::nullopt;
    }
    return child_->exit();
}

ProcessSpec standinSpec(const std::filesystem::path& adb, const std::filesystem::path& workingDirectory,
                        std::vector<std::string> arguments,
                        std::map<std::string, std::optional<std::string>> environment) {
    ProcessSpec spec;
    spec.executable = ORVAN_STANDIN_EXECUTABLE;
    spec.arguments = std::move(arguments);
    spec.workingDirectory = workingDirectory.string();
    for (char** entry = environ; *entry != nullptr; ++entry) {
        const std::string_view text(*entry);
        if (text.starts_with("ORVAN_STANDIN_"))
            spec.environmentChanges[std::string(text.substr(0, text.find('=')))] = std::nullopt;
    }
    spec.environmentChanges["DISPLAY"] = std::nullopt;
    spec.environmentChanges["ADB_SERVER_SOCKET"] = std::nullopt;
    spec.environmentChanges["SCRCPY_SERVER_PATH"] = std::nullopt;
    spec.environmentChanges["ADB"] = adb.string();
    for (auto& [name, value] : environment) spec.environmentChanges[name] = std::move(value);
    return spec;
}

std::vector<std::string> logLines(const std::filesystem::path& path) {
    return linesOf(readWholeFile(path));
}

}  // namespace orvan::testing
