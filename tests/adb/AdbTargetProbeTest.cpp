// The state query and the echo probe against a scripted adb answered in-process: exactly which
// commands run, with which time-outs, and how each answer is read.

#include <gtest/gtest.h>

#include <condition_variable>
#include <future>
#include <mutex>

#include "adb/AdbTargetProbe.h"
#include "adb/CoalescedDeviceListing.h"
#include "support/FakeAdb.h"
#include "support/Recorders.h"

namespace orvan {
namespace {

using testing::FakeAdb;
using Lines = std::vector<std::string>;
constexpr auto kShared = AdbServerScope::sharedDevelopment;

class AdbTargetProbeTest : public ::testing::Test {
protected:
    void SetUp() override {
        logged.attach(*log);
        recorded.attach(runner);
        runner.setCommandRunner(adb.inProcess());
    }
    void TearDown() override {
        EXPECT_TRUE(logged.lines().empty()) << "the probe never logs";
        for (const auto& invocation : recorded.invocations()) {
            EXPECT_FALSE(invocation.check);
            EXPECT_FALSE(invocation.logCommand);
        }
    }

    FakeAdb adb;
    SharedLogSink log = std::make_shared<LogSink>();
    AdbRunner runner{adb.adbPath(), 16231, log};
    AdbTargetProbe probe{runner};
    testing::LogRecorder logged;
    testing::InvocationRecorder recorded;
};

TEST_F(AdbTargetProbeTest, GetStateAnswerIsTrimmedAndLowerCased) {
    adb.on({"-s", "127.0.0.2:5555", "get-state"}).reply("Device\n");
    EXPECT_EQ(stateText(probe.adbTargetState("127.0.0.2:5555", kShared)), "device");
    EXPECT_EQ(adb.commandLines(), Lines{"-s 127.0.0.2:5555 get-state"});
    EXPECT_EQ(recorded.timeouts(), std::vector<double>{3.0});
}

TEST_F(AdbTargetProbeTest, FailedGetStateFallsBackToTheListing) {
    adb.on({"-s", "*", "get-state"})
        .reply("error: device unauthorized.\nThis adb server's $ADB_VENDOR_KEYS is not set", 1);
    adb.on({"devices"})
        .reply(
            "* daemon started successfully\nList of devices attached\r\n127.0.0.3:5555\tdevice\r\n"
            "127.0.0.2:5555\tUnauthorized\r\n127.0.0.4:5555\n\n");
    // The listing's word is given unchanged.
    const auto unauthorized = probe.adbTargetState("127.0.0.2:5555", kShared);
    EXPECT_EQ(stateText(unauthorized), "Unauthorized");
    EXPECT_TRUE(unauthorized == AdbTransportState::unauthorized);  // the code decides on it all the same
    EXPECT_EQ(adb.commandLines(), (Lines{"-s 127.0.0.2:5555 get-state", "devices"}));
    EXPECT_EQ(recorded.timeouts(), (std::vector<double>{3.0, 3.0}));
    // Not listed, or listed without a state: nothing.
    EXPECT_EQ(stateText(probe.adbTargetState("127.0.0.9:5555", kShared)), "missing");
    EXPECT_EQ(stateText(probe.adbTargetState("127.0.0.4:5555", kShared)), "missing");
    // Prefix or case variants of the serial are other targets.
    EXPECT_EQ(stateText(probe.adbTargetState("127.0.0.2", kShared)), "missing");
}

TEST_F(AdbTargetProbeTest, OtherGetStateWordsOrAHangAlsoFallBackToTheListing) {
    adb.on({"-s", "ABC", "get-state"}).reply("bootloader");
    adb.on({"-s", "*", "get-state"}).hangs();
    adb.on({"devices"}).reply("List of devices attached\nABC\thost\n127.0.0.2:5555\toffline\n");
    EXPECT_EQ(stateText(probe.adbTargetState("ABC", kShared)), "host");
    EXPECT_EQ(stateText(probe.adbTargetState("127.0.0.2:5555", kShared)), "offline");
    EXPECT_EQ(recorded.timeouts(), (std::vector<double>{3.0, 3.0, 3.0, 3.0}));
}

TEST(AdbTargetStateListing, HeaderOnlyOrEmptyListingsAndAnAdbThatCannotStartNameNoTarget) {
    EXPECT_EQ(AdbTargetProbe::stateInListing("List of devices attached\n", "A"), std::nullopt);
    EXPECT_EQ(AdbTargetProbe::stateInListing("", "A"), std::nullopt);
    EXPECT_EQ(AdbTargetProbe::stateInListing("A\tdevice\n", "A"), std::nullopt);  // the first line is the header
    EXPECT_EQ(AdbTargetProbe::stateInListing("x\nB\toffline\nA  \t device  extra\n", "A"), "device");
    EXPECT_EQ(AdbTargetProbe::stateInListing("x\n" + std::string(100 * 1024, 'z') + "\nA\toffline", "A"), "offline");

    // An adb that cannot start gives no state and no answer.
    AdbRunner runner{"/nonexistent/orvan/adb", 16232, nullptr};
    AdbTargetProbe probe{runner};
    EXPECT_EQ(stateText(probe.adbTargetState("127.0.0.2:5555", kShared)), "missing");
    EXPECT_FALSE(probe.isAdbTargetResponsive("127.0.0.2:5555", 1.0, kShared));
    EXPECT_FALSE(probe.echoesReadyMarker("127.0.0.2:5555", 1.0, kShared));
}

TEST_F(AdbTargetProbeTest, ResponsiveNeedsStateDeviceStatusZeroAndTheMarker) {
    adb.on({"-s", "unauthorized:5555", "get-state"}).reply("unauthorized");
    adb.on({"-s", "*", "get-state"}).reply("device");
    adb.on({"-s", "good:5555", "shell", "echo", "__ORVAN_MIRROR_ADB_READY__"}).reply("__ORVAN_MIRROR_ADB_READY__\n");
    adb.on({"-s", "failing:5555", "shell", "**"}).reply("__ORVAN_MIRROR_ADB_READY__", 1);
    adb.on({"-s", "mute:5555", "shell", "**"}).reply("error: closed");
    adb.on({"-s", "garbled:5555", "shell", "**"}).replyBytes("__ORVAN_MIRROR_ADB_READY__\xff");
    adb.on({"-s", "hung:5555", "shell", "**"}).hangs();
    EXPECT_TRUE(probe.isAdbTargetResponsive("good:5555", 1.5, kShared));
    EXPECT_EQ(recorded.timeouts(), (std::vector<double>{3.0, 1.5}));
    for (const char* serial : {"failing:5555", "mute:5555", "garbled:5555", "hung:5555"})
        EXPECT_FALSE(probe.isAdbTargetResponsive(serial, 0.4, kShared)) << serial;
    EXPECT_EQ(recorded.timeouts().back(), 0.4);  // the hung echo ends at the caller's time-out
    // No echo unless the state is "device".
    EXPECT_FALSE(probe.isAdbTargetResponsive("unauthorized:5555", 1.0, kShared));
    EXPECT_EQ(adb.commandLines().back(), "-s unauthorized:5555 get-state");
}

TEST_F(AdbTargetProbeTest, UnknownTargetNeedsNoListing) {
    adb.on({"-s", "127.0.0.2:5555", "get-state"}).reply("error: device '127.0.0.2:5555' not found", 1);
    adb.on({"-s", "127.0.0.3:5555", "get-state"}).reply("error: device '127.0.0.9:5555' not found", 1);
    adb.on({"-s", "127.0.0.4:5555", "get-state"}).reply("error: device '127.0.0.4:5555' not found", 0);
    adb.on({"devices"}).reply("List of devices attached\n127.0.0.3:5555\tdevice\n127.0.0.4:5555\thost\n");
    EXPECT_EQ(stateText(probe.adbTargetState("127.0.0.2:5555", kShared)), "missing");
    EXPECT_EQ(adb.commandLines(), Lines{"-s 127.0.0.2:5555 get-state"});
    // Only the server's own words for this very serial count: anything else asks the listing.
    EXPECT_EQ(stateText(probe.adbTargetState("127.0.0.3:5555", kShared)), "device");
    EXPECT_EQ(stateText(probe.adbTargetState("127.0.0.4:5555", kShared)), "host");
    EXPECT_EQ(adb.commandLines().size(), 5u);
}

// Callers that ask while a listing runs get one that begins after they asked, never the one
// under way, and listings of one server never overlap (how few run is the classroom bench's).
TEST_F(AdbTargetProbeTest, ACallerGetsAListingBegunAfterItAskedAndListingsNeverOverlap) {
    CoalescedDeviceListing listings(runner);
    std::mutex mutex;
    std::condition_variable changed;
    int runs = 0, running = 0;
    bool release = false;
    runner.setCommandRunner([&](const ProcessSpec& spec, std::chrono::duration<double>) {
        EXPECT_EQ(spec.arguments.back(), "devices");
        std::unique_lock lock(mutex);
        EXPECT_EQ(++running, 1) << "two listings at once";
        const int run = ++runs;
        changed.notify_all();
        if (run == 1) changed.wait(lock, [&] { return release; });  // the first is slow
        --running;
        return FiniteRun{.timedOut = false, .status = 0, .bytes = "run " + std::to_string(run)};
    });
    auto first = std::async(std::launch::async, [&] { return listings.fresh(kShared); });
    {
        std::unique_lock lock(mutex);
        changed.wait(lock, [&] { return runs == 1; });
    }
    std::vector<std::future<std::optional<std::string>>> crowd;
    for (int i = 0; i < 8; ++i) crowd.push_back(std::async(std::launch::async, [&] { return listings.fresh(kShared); }));
    {
        std::lock_guard lock(mutex);
        release = true;
    }
    changed.notify_all();
    EXPECT_EQ(first.get(), "run 1");
    for (auto& caller : crowd) EXPECT_NE(caller.get(), "run 1");
}

}  // namespace
}  // namespace orvan
