#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

#include "foundation/ProcessRunner.h"

namespace orvan {
namespace {

using Clock = std::chrono::steady_clock;
namespace fs = std::filesystem;

double secondsSince(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

bool processGone(const std::string& pidText) {
    return !fs::exists("/proc/" + pidText) || [&] {
        std::ifstream stat("/proc/" + pidText + "/stat");
        std::string line;
        std::getline(stat, line);
        return line.find(") Z") != std::string::npos;
    }();
}

TEST(RunSystemCommand, ReturnsTheUntrimmedOutputWhateverTheStatus) {
    EXPECT_EQ(runSystemCommand("/bin/sh", {"-c", "echo ' out'; echo err >&2; exit 4"}), " out\nerr\n");
}

TEST(RunSystemCommand, GivesNothingForMissingToolsAndUndecodableOutput) {
    EXPECT_EQ(runSystemCommand("/nonexistent/networksetup", {}), std::nullopt);
    EXPECT_EQ(runSystemCommand("/bin/sh", {"-c", "printf 'ok\\377'"}), std::nullopt);
}

TEST(RunSystemCommand, AHangingToolYieldsNothingAfterThreeSecondsAndIsTerminated) {
    auto pidFile = fs::temp_directory_path() / ("orvan-hang-" + std::to_string(getpid()));
    auto start = Clock::now();
    auto result = runSystemCommand("/bin/sh", {"-c", "echo $$ > " + pidFile.string() + "; exec sleep 30"});
    double elapsed = secondsSince(start);
    EXPECT_EQ(result, std::nullopt);
    EXPECT_GE(elapsed, 3.0);
    EXPECT_LT(elapsed, 3.1);
    std::string pid;
    std::ifstream(pidFile) >> pid;
    fs::remove(pidFile);
    ASSERT_FALSE(pid.empty());
    auto deadline = Clock::now() + std::chrono::seconds(2);
    while (!processGone(pid) && Clock::now() < deadline) std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_TRUE(processGone(pid)) << "the hanging child was not sent the terminate request";
}

TEST(RunFinite, AChildPrintingTenMegabytesCompletesInsteadOfTimingOut) {
    auto start = Clock::now();
    auto run = runFinite(ProcessSpec{"/bin/sh", {"-c", "head -c 10485760 /dev/urandom"}, {}, {}}, Seconds(5));
    EXPECT_FALSE(run.timedOut);
    EXPECT_EQ(run.bytes.size(), 10485760u);
    EXPECT_LT(secondsSince(start), 5.0);
}

TEST(RunFinite, ATimeOutIsReportedWithinAPollingIntervalOfTheDeadline) {
    auto start = Clock::now();
    auto run = runFinite(ProcessSpec{"/bin/sleep", {"10"}, {}, {}}, Seconds(0.5));
    double elapsed = secondsSince(start);
    EXPECT_TRUE(run.timedOut);
    EXPECT_GE(elapsed, 0.5);
    EXPECT_LT(elapsed, 0.6);
}

TEST(RunFinite, LaunchFailuresArePassedOn) {
    EXPECT_THROW(runFinite(ProcessSpec{"/nonexistent/adb", {}, {}, {}}, Seconds(1)), LaunchError);
}

}  // namespace
}  // namespace orvan
