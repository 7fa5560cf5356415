// The fake adb is trusted by every process test of the connection engine, so it is tested through
// the same runner the app uses, both as a child and answered in-process.

#include <gtest/gtest.h>

#include <chrono>

#include "adb/AdbRunner.h"
#include "foundation/MirrorError.h"
#include "support/FakeAdb.h"

namespace orvan::testing {
namespace {

class FakeAdbTest : public ::testing::TestWithParam<bool> {
protected:
    void SetUp() override {
        if (GetParam()) runner.setCommandRunner(adb.inProcess());
    }
    CommandResult run(const std::vector<std::string>& arguments, double timeout = 20) {
        return runner.runAdb(arguments, {.timeout = Seconds(timeout), .check = false});
    }

    FakeAdb adb;
    AdbRunner runner{adb.adbPath(), 16123, nullptr};
};

TEST_P(FakeAdbTest, RulesAnswerInOrderByVariablesAndUnmatchedRunsFail) {
    adb.on({"get-state"}).when("link", "up").reply("device");
    adb.on({"get-state"}).reply("error: device not found", 1);
    adb.on({"connect", "*"}).reply("failed to connect", 1).reply("connected to x").sets("link", "up");
    EXPECT_EQ(run({"connect", "x"}).status, 1);
    EXPECT_EQ(run({"get-state"}).status, 1);
    EXPECT_EQ(run({"connect", "y"}).output, "connected to x");
    EXPECT_EQ(run({"get-state"}).output, "device");
    adb.setVariable("link", "down");
    EXPECT_EQ(run({"get-state"}).status, 1);
    EXPECT_EQ(run({"whatever"}).output, "fake adb: no rule for these arguments");
    EXPECT_EQ(adb.commandLines(),
              (std::vector<std::string>{"connect x", "get-state", "connect y", "get-state", "get-state", "whatever"}));
    ASSERT_EQ(adb.unmatchedCalls().size(), 1u);
}

// A child's output larger than a pipe holds must be read while it runs, or the run never ends.
TEST_P(FakeAdbTest, RawHugeAndHangingOutput) {
    adb.on({"bytes"}).replyBytes("\xff\xfe not utf-8", 0);
    adb.on({"huge"}).reply("0123456789abcdef").repeated(65536);  // 1 MiB
    adb.on({"shell", "**"}).hangs();
    EXPECT_EQ(run({"bytes"}).output, "");  // the runner drops output that is not UTF-8
    EXPECT_EQ(run({"huge"}).output.size(), 16u * 65536u);
    EXPECT_THROW(run({"shell", "echo", "x"}, 0.3), MirrorError);
}

INSTANTIATE_TEST_SUITE_P(ChildOrInProcess, FakeAdbTest, ::testing::Bool());

}  // namespace
}  // namespace orvan::testing
