#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <sstream>

#include "adb/AdbRunner.h"
#include "foundation/MirrorError.h"
#include "platform/Process.h"
#include "support/TempDir.h"

namespace orvan {
namespace {

namespace fs = std::filesystem;

// A stand-in adb: a shell script that records its arguments, one per line, then runs `body`.
class AdbRunnerTest : public ::testing::Test {
protected:
    void SetUp() override {
        adb_ = folder_ / "adb";
        log_->set([this](const std::string& line) {
            std::lock_guard lock(mutex_);
            logged_.push_back(line);
        });
    }
    void script(const std::string& body) {
        std::ofstream(adb_) << "#!/bin/sh\nfor a in \"$@\"; do printf '%s\\n' \"$a\"; done > '"
                            << (folder_ / "args").string() << "'\n"
                            << body << "\n";
        fs::permissions(adb_, fs::perms::owner_all);
    }

    std::vector<std::string> recordedArguments() {
        std::ifstream in(folder_ / "args");
        std::vector<std::string> args;
        for (std::string line; std::getline(in, line);) args.push_back(line);
        return args;
    }

    std::string failureOf(const std::function<void()>& call) {
        try {
            call();
        } catch (const MirrorError& error) {
            return error.what();
        }
        return "(no failure)";
    }

    AdbRunner runner() { return AdbRunner(adb_, 15037, log_); }

    testing::TempDir folder_{"orvan-adbrunner"};
    fs::path adb_;
    SharedLogSink log_ = std::make_shared<LogSink>();
    std::mutex mutex_;
    std::vector<std::string> logged_;
};

TEST_F(AdbRunnerTest, PrivateScopeAndSerialComeBeforeTheCommand) {
    script("echo x");
    auto result = runner().runAdb({"shell", "echo", "x"}, {.timeout = std::chrono::seconds(5),
                                                           .serial = "192.168.1.20:5555",
                                                           .log = true,
                                                           .scope = AdbServerScope::privateMirroring});
    std::vector<std::string> expected{"-P", "15037", "-s", "192.168.1.20:5555", "shell", "echo", "x"};
    EXPECT_EQ(recordedArguments(), expected);
    expected.insert(expected.begin(), adb_.string());
    EXPECT_EQ(result.command, expected);
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.output, "x");
    EXPECT_EQ(logged_,
              (std::vector<std::string>{"$ " + adb_.string() + " -P 15037 -s 192.168.1.20:5555 shell echo x", "x"}));
}

TEST_F(AdbRunnerTest, SharedScopeAddsNothingAndEmptyOutputIsNotLogged) {
    script("printf ' \\n\\n'");
    auto result = runner().runAdb({"devices"}, {.timeout = std::chrono::seconds(5), .check = false, .log = true});
    EXPECT_EQ(recordedArguments(), std::vector<std::string>{"devices"});
    EXPECT_EQ(result.output, "");
    EXPECT_EQ(logged_.size(), 1u);
}

TEST_F(AdbRunnerTest, CheckedFailuresCarryTheTrimmedOutputOrTheCommandLine) {
    script("printf '  \\n\\n'; exit 1");
    EXPECT_EQ(failureOf([&] { runner().runAdb({"get-state"}, {.timeout = std::chrono::seconds(5), .serial = "S1"}); }),
              "命令失败: " + adb_.string() + " -s S1 get-state");
    script("echo \"error: device 'S1' not found\"; echo; exit 1");
    EXPECT_EQ(failureOf([&] { runner().runAdb({"get-state"}, {.timeout = std::chrono::seconds(5), .serial = "S1"}); }),
              "error: device 'S1' not found");
    EXPECT_TRUE(logged_.empty());
}

TEST_F(AdbRunnerTest, UncheckedFailuresAreNormalResults) {
    script("echo 'cannot connect'; exit 1");
    auto result = runner().runAdb({"connect", "10.0.0.2:5555"}, {.timeout = std::chrono::seconds(5), .check = false});
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.output, "cannot connect");
}

TEST_F(AdbRunnerTest, UndecodableOutputCountsAsEmpty) {
    script("printf 'model\\377\\n'; exit 2");
    auto result = runner().runAdb({"shell", "getprop"}, {.timeout = std::chrono::seconds(5), .check = false});
    EXPECT_EQ(result.output, "");
    EXPECT_EQ(failureOf([&] { runner().runAdb({"shell"}, {.timeout = std::chrono::seconds(5)}); }),
              "命令失败: " + adb_.string() + " shell");
}

TEST_F(AdbRunnerTest, AHangingCommandTimesOutNearItsDeadline) {
    script("exec sleep 30");
    auto start = std::chrono::steady_clock::now();
    auto text = failureOf([&] {
        runner().runAdb({"wait-for-device"}, {.timeout = std::chrono::seconds(2),
                                              .check = false,
                                              .serial = "S",
                                              .log = true,
                                              .scope = AdbServerScope::privateMirroring});
    });
    double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    EXPECT_EQ(text, "命令超时: " + adb_.string() + " -P 15037 -s S wait-for-device");
    EXPECT_GE(elapsed, 2.0);
    EXPECT_LT(elapsed, 2.1);
    EXPECT_EQ(logged_.size(), 1u);  // only the command line
}

TEST_F(AdbRunnerTest, LaunchErrorsPassThroughUnchanged) {
    EXPECT_THROW(runner().runAdb({"devices"}, {.timeout = std::chrono::seconds(5)}), LaunchError);
    std::ofstream(adb_) << "not runnable";
    try {
        runner().runAdb({"devices"}, {.timeout = std::chrono::seconds(5)});
        FAIL();
    } catch (const LaunchError& error) {
        EXPECT_EQ(error.reason(), LaunchError::Reason::notExecutable);
    }
}

TEST_F(AdbRunnerTest, OnlySharedScopeCommandsFollowTheResolvedBinary) {
    script("echo ours");
    auto other = folder_ / "other-adb";
    std::ofstream(other) << "#!/bin/sh\necho theirs\n";
    fs::permissions(other, fs::perms::owner_all);
    auto adb = runner();
    adb.setSharedBinaryResolver([other] { return std::optional<fs::path>(other); });
    EXPECT_EQ(adb.runAdb({"devices"}, {.timeout = std::chrono::seconds(5)}).output, "theirs");
    EXPECT_EQ(
        adb.runAdb({"devices"}, {.timeout = std::chrono::seconds(5), .scope = AdbServerScope::privateMirroring}).output,
        "ours");
}

}  // namespace
}  // namespace orvan
