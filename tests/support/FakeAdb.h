#pragma once

// A scripted fake `adb` for process-boundary tests.
//
// FakeAdb makes a temporary tool folder holding "adb" (a link to the fake-adb executable) and a
// placeholder "scrcpy", so `tools()` can be handed to MirrorService or AdbRunner unchanged. Every
// run of that "adb" is a real child process: it reads the scenario from the folder, picks the
// first rule that applies to its argument list, records the run (arguments, pid, whether a signal
// ended it), then prints the response and exits with its status.
//
//     FakeAdb adb;
//     adb.on({"-P", "16001", "start-server"}).reply("", 0);
//     adb.on({"**", "connect", "127.0.0.2:5555"})
//         .reply("failed to connect to '127.0.0.2:5555': Connection refused", 1)  // first run
//         .reply("connected to 127.0.0.2:5555", 0).sets("link", "up");         // second and later
//     adb.on({"**", "get-state"}).when("link", "up").reply("device");
//     adb.on({"**", "get-state"}).reply("error: device '127.0.0.2:5555' not found", 1);
//     adb.on({"**", "shell", "echo", "*"}).reply("hang").hangs();  // the caller's time-out ends it
//     ... run the code under test with MirrorServiceOptions{.tools = adb.tools()} ...
//     EXPECT_EQ(adb.commandLines(), (std::vector<std::string>{"-P 16001 start-server", ...}));
//
// Patterns: a literal, "*" (any one argument), "**" (any run of arguments, also none). Rules are
// tried in the order they were added; a rule with `when` applies only while those scenario
// variables have those values (an unset variable equals ""). A rule's responses are used in order
// and the last one repeats. A run that no rule matches prints `unmatched` and exits 1; it is
// recorded with rule -1 (`unmatchedCalls()` lists them, so a test can insist on none).
// The scenario may be changed between runs; the run counters and variables survive the change.
// Several fakes may exist at once; each has its own folder.
//
// `hangs()` never answers, so runAdb's time-out terminates it and the dying child records the run
// as terminated. The time-outs a caller chose are not visible to a child; tests observe them with
// AdbRunner's invocation observer.
//
// In-process: `runner.setCommandRunner(adb.inProcess())` answers the same scenario without a
// child. A hanging response is a time-out at once, and each run records the caller's time-out.
// Branch tests use this; the process boundary keeps a few child runs.

#include <chrono>
#include <filesystem>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "foundation/ProcessRunner.h"
#include "foundation/ToolLocation.h"
#include "support/FakeAdbScenario.h"
#include "support/TempDir.h"

namespace orvan::testing {

class FakeAdb;

// Builds one rule in place; every call rewrites the scenario file, so the rule is live at once.
class FakeAdbRuleBuilder {
public:
    FakeAdbRuleBuilder(FakeAdb& fake, size_t index) : fake_(fake), index_(index) {}

    FakeAdbRuleBuilder& when(const std::string& variable, const std::string& value);
    // Appends a response: the next run of this rule (after the earlier responses) gets it.
    FakeAdbRuleBuilder& reply(const std::string& output, int status = 0);
    FakeAdbRuleBuilder& replyBytes(const std::string& bytes, int status = 0);  // any bytes, also invalid UTF-8
    // Modifiers of the latest response.
    FakeAdbRuleBuilder& sets(const std::string& variable, const std::string& value);
    FakeAdbRuleBuilder& hangs();
    FakeAdbRuleBuilder& repeated(int times);  // prints the output this many times

private:
    FakeAdbResponse& latest();
    FakeAdbRuleBuilder& changed();  // writes the scenario out
    FakeAdb& fake_;
    size_t index_;
};

class FakeAdb {
public:
    FakeAdb();
    FakeAdb(const FakeAdb&) = delete;
    FakeAdb& operator=(const FakeAdb&) = delete;

    // The tool folder: "adb" is the fake, "scrcpy" a placeholder file that is never run.
    ToolLocation tools() const { return ToolLocation::inToolFolder(folder_); }
    std::filesystem::path adbPath() const { return folder_ / "adb"; }
    const std::filesystem::path& folder() const { return folder_; }

    FakeAdbRuleBuilder on(std::vector<std::string> pattern);
    void setVariable(const std::string& name, const std::string& value);

    std::vector<FakeAdbCall> calls() const;
    // Each call's arguments joined with blanks, in order ("-P 16001 start-server").
    std::vector<std::string> commandLines() const;
    std::vector<FakeAdbCall> unmatchedCalls() const;

    // The same scenario answered in this process, for AdbRunner::setCommandRunner: runs change the
    // variables and are recorded (pid 0, no environment) like the executable's, but start no child.
    // A response that hangs is that time-out, at once.
    std::function<FiniteRun(const ProcessSpec&, std::chrono::duration<double>)> inProcess();

private:
    friend class FakeAdbRuleBuilder;
    void writeScenario() const;
    TempDir dir_{"orvan-fake-adb"};
    std::filesystem::path folder_;
    FakeAdbScenario scenario_;
    mutable std::mutex memoryMutex_;
    std::optional<FakeAdbState> memory_;  // the in-process runs' state, once there was one
    std::vector<FakeAdbCall> memoryCalls_;
};

}  // namespace orvan::testing
