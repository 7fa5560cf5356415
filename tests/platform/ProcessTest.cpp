#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <fstream>

#include "platform/Process.h"
#include "support/TempDir.h"
#include "support/Wait.h"

namespace orvan {
namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

struct Run {
    bool exited;
    std::string output;
    double seconds;
};

// The limit is far above any honest run; a child that is waited for too long fails `exited`.
Run run(const ProcessSpec& spec, std::chrono::milliseconds limit = 60s) {
    auto child = ChildProcess::launch(spec);
    auto start = std::chrono::steady_clock::now();
    Run result{};
    result.exited = child->waitForExit(start + limit, [&](std::string_view chunk) { result.output.append(chunk); });
    result.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    return result;
}

ProcessSpec shell(const std::string& script) {
    return ProcessSpec{"/bin/sh", {"-c", script}, {}, {}};
}

bool isGone(pid_t pid) {
    return !fs::exists("/proc/" + std::to_string(pid));
}

TEST(ProcessLaunch, TellsAMissingBinaryAndPassesArgumentsEnvironmentAndDirectory) {
    auto reasonOf = [](const std::string& path) {
        try {
            ChildProcess::launch(ProcessSpec{path, {}, {}, {}});
        } catch (const LaunchError& error) {
            return std::optional(error.reason());
        }
        return std::optional<LaunchError::Reason>();
    };
    EXPECT_EQ(reasonOf("/nonexistent/tool"), LaunchError::Reason::notFound);
    testing::TempDir temp;
    std::ofstream(temp / "noexec") << "#!/bin/sh\necho hi\n";
    fs::permissions(temp / "noexec", fs::perms::owner_read | fs::perms::owner_write);
    EXPECT_EQ(reasonOf((temp / "noexec").string()), LaunchError::Reason::notExecutable);

    setenv("ORVAN_TEST_REMOVED", "present", 1);
    ProcessSpec spec{
        "/bin/sh",
        {"-c", "printf '%s|' \"$1\" \"$ORVAN_TEST_SET\" \"${ORVAN_TEST_REMOVED-unset}\" \"$(pwd)\"", "sh", "a b;$c"},
        {{"ORVAN_TEST_SET", "value"}, {"ORVAN_TEST_REMOVED", std::nullopt}},
        "/tmp"};
    auto result = run(spec);
    ASSERT_TRUE(result.exited);
    EXPECT_EQ(result.output, "a b;$c|value|unset|/tmp|");
    unsetenv("ORVAN_TEST_REMOVED");
    // Standard output and error are one stream, in write order.
    EXPECT_EQ(run(shell("echo one; echo two >&2; echo three")).output, "one\ntwo\nthree\n");
}

TEST(ProcessWait, DrainsTheOutputIgnoresAGrandchildHoldingItAndReportsTheExitCodeOrSignal) {
    // Undrained, the child blocks on the full pipe and the wait runs into its limit.
    auto result = run(shell("head -c 5000000 /dev/zero"));
    ASSERT_TRUE(result.exited);
    EXPECT_EQ(result.output.size(), 5000000u);

    // An adb server forks itself and may keep our pipe open for its whole life.
    result = run(shell("sleep 30 & echo started"));
    ASSERT_TRUE(result.exited);
    EXPECT_EQ(result.output, "started\n");
    EXPECT_LT(result.seconds, 20.0);

    auto code = ChildProcess::launch(shell("exit 7"));
    EXPECT_EQ(code->waitForExit().status, 7);
    EXPECT_EQ(code->exit()->reason, ProcessExit::Reason::exited);
    auto child = ChildProcess::launch(shell("sleep 120"));
    EXPECT_FALSE(child->waitForExit(std::chrono::steady_clock::now() + 200ms, nullptr));
    child->terminate();
    auto exit = child->waitForExit();
    EXPECT_EQ(exit.reason, ProcessExit::Reason::signaled);
    EXPECT_EQ(exit.status, SIGTERM);
}

TEST(ProcessReaping, AnAbandonedChildIsReapedAndTheParentIsReadFromStatEvenWithParentheses) {
    pid_t pid;
    {
        auto child = ChildProcess::launch(shell("sleep 0.3"));
        pid = child->pid();
        child->terminate();
    }
    EXPECT_TRUE(testing::waitUntil([&] { return isGone(pid); })) << "child " << pid << " left as a zombie";

    auto child = ChildProcess::launch(shell("sleep 120"));
    EXPECT_EQ(parentProcessId(child->pid()), ::getpid());
    EXPECT_TRUE(testing::waitUntil([&] {  // from the moment the child has run exec
        return ("\n" + processCommandLines("sleep 120")).find("\n" + std::to_string(child->pid()) + " ") !=
               std::string::npos;
    }));
    child->sendSignal(SIGKILL);
    child->waitForExit(std::chrono::steady_clock::now() + 60s, nullptr);
    EXPECT_EQ(parentProcessId(child->pid()), std::nullopt) << "a reaped process has no parent";

    testing::TempDir temp;
    const auto root = temp.path();
    fs::create_directories(root / "41");
    fs::create_directories(root / "42");
    std::ofstream(root / "41" / "stat") << "41 (a) S 7) R 1234 41 41 0 -1";
    std::ofstream(root / "42" / "stat") << "42 (broken";
    EXPECT_EQ(parentProcessId(41, root), 1234);
    EXPECT_EQ(parentProcessId(42, root), std::nullopt);
    EXPECT_EQ(parentProcessId(0, root), std::nullopt);

    // Arguments joined by blanks, one line per process; no command line or no match: no line.
    fs::create_directories(root / "self");
    std::ofstream(root / "41" / "cmdline") << std::string("/x/scrcpy\0-s\0T\0", 15);
    std::ofstream(root / "42" / "cmdline") << "";
    std::ofstream(root / "self" / "cmdline") << "scrcpy";
    EXPECT_EQ(processCommandLines("scrcpy", root), "41 /x/scrcpy -s T\n");
}

}  // namespace
}  // namespace orvan
