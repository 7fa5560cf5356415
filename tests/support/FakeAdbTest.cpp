// The fake adb is trusted by every process test of the connection engine, so it is tested through
// the same runner the app uses.

#include <gtest/gtest.h>

#include <chrono>
#include <fstream>

#include "adb/AdbRunner.h"
#include "foundation/MirrorError.h"
#include "support/FakeAdb.h"
#include "support/ScopedEnvironment.h"

namespace orvan::testing {
namespace {

class FakeAdbTest : public ::testing::Test {
protected:
    FakeAdb adb;
    AdbRunner runner{adb.adbPath(), 16123, nullptr};

    CommandResult run(const std::vector<std::string>& arguments,
                      std::chrono::duration<double> timeout = std::chrono::seconds(20)) {
        return runner.runAdb(arguments, {.timeout = timeout, .check = false});
    }
};

// What the process tests rely on, run both ways: as a child and answered in-process.
class FakeAdbBothWaysTest : public FakeAdbTest, public ::testing::WithParamInterface<bool> {
protected:
    void SetUp() override {
        if (GetParam()) runner.setCommandRunner(adb.inProcess());
    }
};

TEST_P(FakeAdbBothWaysTest, RulesAnswerInOrderByVariablesAndUnmatchedRunsFail) {
    adb.on({"get-state"}).when("link", "up").reply("device");
    adb.on({"get-state"}).reply("error: device not found", 1);
    adb.on({"connect", "*"}).reply("failed to connect", 1).reply("connected to x").sets("link", "up");
    EXPECT_EQ(run({"connect", "x"}).status, 1);
    EXPECT_EQ(run({"get-state"}).status, 1);
    EXPECT_EQ(run({"connect", "y"}).output, "connected to x");
    EXPECT_EQ(run({"get-state"}).output, "device");
    EXPECT_EQ(run({"connect", "z"}).status, 0);  // the last response repeats
    adb.setVariable("link", "down");
    EXPECT_EQ(run({"get-state"}).status, 1);
    auto unmatched = run({"whatever"});
    EXPECT_EQ(unmatched.status, 1);
    EXPECT_EQ(unmatched.output, "fake adb: no rule for these arguments");
    EXPECT_EQ(adb.commandLines(), (std::vector<std::string>{"connect x", "get-state", "connect y", "get-state",
                                                            "connect z", "get-state", "whatever"}));
    ASSERT_EQ(adb.unmatchedCalls().size(), 1u);
    EXPECT_EQ(adb.unmatchedCalls()[0].arguments, std::vector<std::string>{"whatever"});
}

TEST_P(FakeAdbBothWaysTest, RawHugeStderrAndHangingOutput) {
    adb.on({"bytes"}).replyBytes("\xff\xfe not utf-8", 0);
    adb.on({"huge"}).reply("0123456789abcdef").repeated(65536);  // 1 MiB, more than a pipe holds
    adb.on({"err"}).reply("error: closed").onStderr();
    adb.on({"shell", "**"}).hangs();
    EXPECT_EQ(run({"bytes"}).output, "");  // the runner drops output that is not UTF-8
    EXPECT_EQ(run({"huge"}).output.size(), 16u * 65536u);
    EXPECT_EQ(run({"err"}).output, "error: closed");
    EXPECT_THROW(run({"shell", "echo", "x"}, std::chrono::milliseconds(300)), MirrorError);
    auto hung = adb.calls().back();
    EXPECT_TRUE(GetParam() ? hung.timeout == 0.3 : adb.waitForTerminated(hung.pid, std::chrono::seconds(20)));
    EXPECT_FALSE(adb.calls().back().endedAt.has_value());
}

INSTANTIATE_TEST_SUITE_P(ChildOrInProcess, FakeAdbBothWaysTest, ::testing::Bool());

TEST_F(FakeAdbTest, RecordsTheServerEnvironmentAndPrivateScopeArgumentsInOrder) {
    ScopedEnvironment environment;
    environment.set("ANDROID_ADB_SERVER_PORT", "16124");
    environment.set("ORVAN_UNRELATED", "x");
    adb.on({"devices"}).reply("");
    adb.on({"-P", "16123", "-s", "127.0.0.2:5555", "shell", "echo", "x"}).reply("x");
    run({"devices"});
    EXPECT_EQ(adb.calls().at(0).environment.at("ANDROID_ADB_SERVER_PORT"), "16124");
    EXPECT_EQ(adb.calls().at(0).environment.count("ORVAN_UNRELATED"), 0u);
    adb.recordEnvironmentVariable("ORVAN_UNRELATED");
    run({"devices"});
    EXPECT_EQ(adb.calls().at(1).environment.at("ORVAN_UNRELATED"), "x");
    auto result = runner.runAdb({"shell", "echo", "x"}, {.timeout = std::chrono::seconds(5),
                                                         .serial = std::string("127.0.0.2:5555"),
                                                         .scope = AdbServerScope::privateMirroring});
    EXPECT_EQ(result.output, "x");
    EXPECT_TRUE(adb.unmatchedCalls().empty());
}

TEST_F(FakeAdbTest, BrokenScenarioGivesAClearFailure) {
    std::ofstream(adb.folder() / kFakeAdbScenarioFile, std::ios::trunc) << "{ not json";
    auto result = run({"devices"});
    EXPECT_EQ(result.status, 2);
    EXPECT_NE(result.output.find("fake adb: bad scenario"), std::string::npos);
}

}  // namespace
}  // namespace orvan::testing
