#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>

#include "adb/AdbRunner.h"
#include "foundation/MirrorError.h"
#include "foundation/Text.h"
#include "platform/Process.h"
#include "support/TempDir.h"

namespace orvan {
namespace {

namespace fs = std::filesystem;

// A stand-in adb: a shell script that records its arguments, one per line, then runs `body`.
class AdbRunnerTest : public ::testing::Test {
protected:
    void SetUp() override {
        log_->set([this](const std::string& line) { logged_.push_back(line); });
    }
    void script(const std::string& body) {
        std::ofstream(adb_) << "#!/bin/sh\nfor a in \"$@\"; do printf '%s\\n' \"$a\"; done > '"
                            << (folder_ / "args").string() << "'\n"
                            << body << "\n";
        fs::permissions(adb_, fs::perms::owner_all);
    }

    std::vector<std::string> recordedArguments() { return text::splitLines(testing::readWholeFile(folder_ / "args")); }

    AdbRunner runner() { return AdbRunner(adb_, 16037, log_); }

    testing::TempDir folder_{"orvan-adbrunner"};
    fs::path adb_ = folder_ / "adb";
    SharedLogSink log_ = std::make_shared<LogSink>();
    std::vector<std::string> logged_;
};

TEST_F(AdbRunnerTest, PrivateScopeAndSerialComeFirstAndEveryOutcomeBecomesAResultOrFailure) {
    script("echo x");
    auto result = runner().runAdb({"shell", "echo", "x"}, {.timeout = std::chrono::seconds(5),
                                                           .serial = "192.168.1.20:5555",
                                                           .log = true,
                                                           .scope = AdbServerScope::privateMirroring});
    std::vector<std::string> expected{"-P", "16037", "-s", "192.168.1.20:5555", "shell", "echo", "x"};
    EXPECT_EQ(recordedArguments(), expected);
    expected.insert(expected.begin(), adb_.string());
    EXPECT_EQ(result.command, expected);
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.output, "x");
    EXPECT_EQ(logged_,
              (std::vector<std::string>{"$ " + adb_.string() + " -P 16037 -s 192.168.1.20:5555 shell echo x", "x"}));

    // The branches after the run, scripted in-process through the command-runner seam: each row is
    // what the command gave, the call's check flag, and the expected result or failure text.
    logged_.clear();
    struct Row {
        FiniteRun run;
        bool check;
        std::string expected;  // "=<output>" for a result, else the failure text
    };
    const std::string line = adb_.string() + " -P 16037 -s S get-state";
    const std::vector<Row> rows{
        {{false, 1, "  \n\n"}, true, "命令失败: " + line},
        {{false, 1, "error: device 'S' not found\n\n"}, true, "error: device 'S' not found"},
        {{false, 1, "cannot connect"}, false, "=cannot connect"},
        {{false, 2, "model\377\n"}, false, "="},  // undecodable output counts as empty
        {{false, 2, "model\377\n"}, true, "命令失败: " + line},
        {{true, 0, "partial"}, false, "命令超时: " + line},
    };
    for (const auto& row : rows) {
        std::vector<double> timeouts;
        auto adb = runner();
        adb.setCommandRunner([&](const ProcessSpec&, std::chrono::duration<double> timeout) {
            timeouts.push_back(timeout.count());
            return row.run;
        });
        std::string outcome;
        try {
            outcome = "=" + adb.runAdb({"get-state"}, {.timeout = Seconds(2.5),
                                                       .check = row.check,
                                                       .serial = "S",
                                                       .scope = AdbServerScope::privateMirroring})
                                .output;
        } catch (const MirrorError& error) {
            outcome = error.what();
        }
        EXPECT_EQ(outcome, row.expected) << row.run.bytes;
        EXPECT_EQ(timeouts, std::vector<double>{2.5});  // the time-out the call asked for
    }
    EXPECT_TRUE(logged_.empty());
}

TEST_F(AdbRunnerTest, LaunchErrorsPassThroughAndOnlySharedScopeCommandsFollowTheResolvedBinary) {
    EXPECT_THROW(runner().runAdb({"devices"}, {.timeout = std::chrono::seconds(5)}), LaunchError);
    std::ofstream(adb_) << "not runnable";
    try {
        runner().runAdb({"devices"}, {.timeout = std::chrono::seconds(5)});
        FAIL();
    } catch (const LaunchError& error) {
        EXPECT_EQ(error.reason(), LaunchError::Reason::notExecutable);
    }

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
