#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>

#include "foundation/ProcessRunner.h"
#include "support/TempDir.h"
#include "support/Wait.h"

namespace orvan {
namespace {

using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

TEST(RunSystemCommand, ReturnsTheUntrimmedOutputButNothingForMissingUndecodableOrHangingTools) {
    EXPECT_EQ(runSystemCommand("/bin/sh", {"-c", "echo ' out'; echo err >&2; exit 4"}), " out\nerr\n");
    EXPECT_EQ(runSystemCommand("/nonexistent/networksetup", {}), std::nullopt);
    EXPECT_EQ(runSystemCommand("/bin/sh", {"-c", "printf 'ok\\377'"}), std::nullopt);

    // A hanging tool yields nothing and is terminated and reaped.
    testing::TempDir temp;
    const auto pidFile = temp / "pid";
    const auto start = Clock::now();
    const auto result = runSystemCommand("/bin/sh", {"-c", "echo $$ > " + pidFile.string() + "; exec sleep 60"},
                                         {.timeout = Seconds(0.5)});
    EXPECT_EQ(result, std::nullopt);
    EXPECT_GE(secondsSince(start), 0.5);
    EXPECT_LT(secondsSince(start), 30.0) << "ended by the time-out, not by the child";
    std::string pid;
    std::ifstream(pidFile) >> pid;
    ASSERT_FALSE(pid.empty());
    // Gone from /proc: terminated, and reaped (a zombie would still be listed).
    EXPECT_TRUE(testing::waitUntil([&] { return !std::filesystem::exists("/proc/" + pid); }))
        << "the timed-out child " << pid << " is still there";
}

}  // namespace
}  // namespace orvan
