// The fake adb is trusted by every process test of the connection engine, so it is tested through
// the same runner the app uses.

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
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

TEST_F(FakeAdbTest, RepliesInOrderAndRepeatsTheLastResponse) {
    adb.on({"connect", "*"}).reply("failed to connect", 1).reply("connected to x", 0);
    EXPECT_EQ(run({"connect", "x"}).status, 1);
    auto second = run({"connect", "y"});
    EXPECT_EQ(second.status, 0);
    EXPECT_EQ(second.output, "connected to x");
    EXPECT_EQ(run({"connect", "z"}).status, 0);
    EXPECT_EQ(adb.commandLines(), (std::vector<std::string>{"connect x", "connect y", "connect z"}));
    auto calls = adb.calls();
    EXPECT_EQ(calls[0].response, 0);
    EXPECT_EQ(calls[2].response, 1);
    EXPECT_TRUE(calls[2].endedAt.has_value());
}

TEST_F(FakeAdbTest, VariablesSelectRulesAndRunsChangeThem) {
    adb.on({"get-state"}).when("link", "up").reply("device");
    adb.on({"get-state"}).reply("error: device not found", 1);
    adb.on({"connect", "*"}).reply("connected").sets("link", "up");
    EXPECT_EQ(run({"get-state"}).status, 1);
    run({"connect", "a"});
    EXPECT_EQ(run({"get-state"}).output, "device");
    EXPECT_EQ(adb.variables().at("link"), "up");
    adb.setVariable("link", "down");
    EXPECT_EQ(run({"get-state"}).status, 1);
}

TEST_F(FakeAdbTest, UnmatchedRunsFailAndAreListed) {
    auto result = run({"whatever"});
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.output, "fake adb: no rule for these arguments");
    ASSERT_EQ(adb.unmatchedCalls().size(), 1u);
    EXPECT_EQ(adb.unmatchedCalls()[0].arguments, std::vector<std::string>{"whatever"});
}

TEST_F(FakeAdbTest, HangingRunIsEndedByTheTimeOutAndRecordedAsTerminated) {
    adb.on({"shell", "**"}).reply("never").hangs();
    EXPECT_THROW(run({"shell", "echo", "x"}, std::chrono::milliseconds(300)), MirrorError);
    auto calls = adb.calls();
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_TRUE(adb.waitForTerminated(calls[0].pid, std::chrono::seconds(20)));
    EXPECT_FALSE(adb.calls()[0].endedAt.has_value());
}

TEST_F(FakeAdbTest, RawHugeAndStderrOutput) {
    adb.on({"bytes"}).replyBytes("\xff\xfe not utf-8", 0);
    adb.on({"huge"}).reply("0123456789abcdef").repeated(65536);  // 1 MiB, more than a pipe holds
    adb.on({"err"}).reply("error: closed").onStderr();
    EXPECT_EQ(run({"bytes"}).output, "");  // the runner drops output that is not UTF-8
    EXPECT_EQ(run({"huge"}).output.size(), 16u * 65536u);
    EXPECT_EQ(run({"err"}).output, "error: closed");
}

TEST_F(FakeAdbTest, RecordsTheServerEnvironment) {
    ScopedEnvironment environment;
    environment.set("ANDROID_ADB_SERVER_PORT", "16124");
    environment.set("ORVAN_UNRELATED", "x");
    adb.on({"devices"}).reply("");
    run({"devices"});
    EXPECT_EQ(adb.calls().at(0).environment.at("ANDROID_ADB_SERVER_PORT"), "16124");
    EXPECT_EQ(adb.calls().at(0).environment.count("ORVAN_UNRELATED"), 0u);
    adb.recordEnvironmentVariable("ORVAN_UNRELATED");
    run({"devices"});
    EXPECT_EQ(adb.calls().at(1).environment.at("ORVAN_UNRELATED"), "x");
}

TEST_F(FakeAdbTest, PrivateScopeArgumentsReachTheFakeInOrder) {
    adb.on({"-P", "16123", "-s", "127.0.0.2:5555", "shell", "echo", "x"}).reply("x");
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
