#pragma once

// Helpers for tests that run the scrcpy stand-in (tools/scrcpy-standin) as a child: a child that
// is always stopped and reaped, and the stand-in's spec and log. Its `adb` is the scripted fake
// of support/FakeAdb.h, temporary folders come from support/TempDir.h.

#include <chrono>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Process.h"
#include "support/TempDir.h"

namespace orvan::testing {

// A child whose output is collected as it runs. On destruction it is sent SIGTERM, then
// SIGKILL if it lingers, and reaped, so a failing assertion never leaves it running.
class RunningChild {
public:
    explicit RunningChild(const ProcessSpec& spec);
    ~RunningChild();
    RunningChild(const RunningChild&) = delete;
    RunningChild& operator=(const RunningChild&) = delete;

    pid_t pid() const { return child_->pid(); }
    ChildProcess& child() { return *child_; }
    // Collects output until `needle` shows up or the time is over; true when it did.
    bool waitForOutput(std::string_view needle, std::chrono::milliseconds timeout);
    // Collects output until the child exits or the time is over.
    std::optional<ProcessExit> waitForExit(std::chrono::milliseconds timeout);
    const std::string& output() const { return output_; }

private:
    // Reads what is there now, without waiting; false once the output is at end of file.
    bool collect();
    std::unique_ptr<ChildProcess> child_;
    std::string output_;
};

// How to start the stand-in of this build: scrcpy arguments plus environment changes on top of a clean
// base (ADB pointing at `adb`, no DISPLAY, no inherited ORVAN_STANDIN_* or ADB_SERVER_SOCKET).
ProcessSpec standinSpec(const std::filesystem::path& adb, const std::filesystem::path& workingDirectory,
                        std::vector<std::string> arguments,
                        std::map<std::string, std::optional<std::string>> environment = {});

// The JSON lines of an ORVAN_STANDIN_LOG file, as text; empty when it does not exist.
std::vector<std::string> logLines(const std::filesystem::path& path);

}  // namespace orvan::testing
