// The background sync of a privately mirrored target to the shared server, against the scripted
// adb answered in-process: which commands run with which time-outs, and the one log line each outcome leaves.

#include <gtest/gtest.h>

#include <atomic>
#include <future>

#include "mirror/SharedAdbSync.h"
#include "support/ConnectionRig.h"

namespace orvan {
namespace {

using namespace std::chrono_literals;
using testing::ConnectionRig;
using testing::kTarget;
using testing::kTargetIp;

constexpr auto kShared = AdbServerScope::sharedDevelopment;
constexpr auto kPrivate = AdbServerScope::privateMirroring;

class SharedAdbSyncTest : public ::testing::Test {
protected:
    void sync() {
        sharedSync.syncWirelessTargetToSharedAdb(kTargetIp, 5555, kPrivate);
        sharedSync.waitUntilIdle();
    }
    std::vector<std::string> lines() const { return rig.logs.lines(); }

    ConnectionRig rig{16071};
    SharedAdbSync sharedSync{rig.runner, rig.probe, rig.readiness};
    const std::string t = kTarget;
};

// A target mirrored on the shared server needs nothing; a privately mirrored one that the shared
// server already reaches is only reported.
TEST_F(SharedAdbSyncTest, ATargetOnTheSharedServerNeedsNothingAnAnsweringOneIsOnlyReported) {
    rig.scriptTransport();
    rig.glassesOnline();
    sharedSync.syncWirelessTargetToSharedAdb(kTargetIp, 5555, kShared);
    sharedSync.waitUntilIdle();
    EXPECT_TRUE(rig.trace.lines().empty());
    EXPECT_TRUE(lines().empty());
    sync();
    EXPECT_EQ(lines(), std::vector<std::string>{"共享 5037 已能访问眼镜，Android Studio 可继续使用: " + t});
    EXPECT_TRUE(rig.actions().empty());
    for (const auto& invocation : rig.trace.invocations()) EXPECT_EQ(invocation.scope, kShared);
}

TEST_F(SharedAdbSyncTest, AnOfflineTransportIsDisconnectedBeforeTheConnect) {
    rig.adb.on({"disconnect", t}).reply("disconnected " + t).sets("state", "");
    rig.adb.on({"connect", t}).reply("connected to " + t).sets("state", "device").sets("answers", "yes");
    rig.scriptTransport();
    rig.adb.setVariable("state", "offline");
    sync();
    EXPECT_EQ(rig.actions(), (std::vector<std::string>{"disconnect " + t, "connect " + t}));
    EXPECT_EQ(rig.runsOf("disconnect " + t).at(0).timeout, 3.0);
    EXPECT_EQ(rig.runsOf("connect " + t).at(0).timeout, 4.0);
    for (const auto& invocation : rig.trace.invocations()) EXPECT_FALSE(invocation.logCommand);
    EXPECT_EQ(lines(), std::vector<std::string>{"已将眼镜同步到共享 5037，Android Studio 可继续调试: " + t});
}

TEST_F(SharedAdbSyncTest, ATargetThatDoesNotComeUpIsReportedWithTheConnectOutput) {
    rig.adb.on({"connect", t}).reply("failed to connect to '" + t + "': Connection refused\n", 1);
    rig.scriptTransport();
    sync();
    EXPECT_EQ(rig.actions(), std::vector<std::string>{"connect " + t});  // nothing offline to clear
    EXPECT_EQ(lines(), std::vector<std::string>{"共享 5037 暂未同步眼镜，不影响当前投屏: " + t +
                                                "，failed to connect to '" + t + "': Connection refused"});
}

// Syncs run one at a time, and a target already waiting its turn is not queued twice.
TEST_F(SharedAdbSyncTest, AHangingConnectIsAbandonedAtFourSecondsWithoutHoldingTheCallerOrTheQueue) {
    rig.adb.on({"connect", t}).reply("").hangs();
    rig.scriptTransport();
    // The first connect is held until the caller has got its answer back and asked twice more.
    std::promise<void> callerReturned, firstConnectStarted;
    auto returned = callerReturned.get_future().share();
    std::atomic<bool> heldTheCaller{false};
    std::atomic<int> connects{0};
    rig.runner.setCommandRunner([&, returned, answer = rig.adb.inProcess()](const ProcessSpec& spec, auto timeout) {
        if (spec.arguments.front() == "connect" && connects++ == 0) {
            firstConnectStarted.set_value();
            heldTheCaller = returned.wait_for(20s) != std::future_status::ready;
        }
        return answer(spec, timeout);
    });
    sharedSync.syncWirelessTargetToSharedAdb(kTargetIp, 5555, kPrivate);
    firstConnectStarted.get_future().wait();
    sharedSync.syncWirelessTargetToSharedAdb(kTargetIp, 5555, kPrivate);
    sharedSync.syncWirelessTargetToSharedAdb(kTargetIp, 5555, kPrivate);
    EXPECT_EQ(connects, 1) << "a second sync started beside the first";
    callerReturned.set_value();
    sharedSync.waitUntilIdle();
    EXPECT_FALSE(heldTheCaller);
    EXPECT_EQ(rig.timeoutsOf("connect " + t), (std::vector<double>{4.0, 4.0}));
    const std::string failure =
        "共享 5037 同步失败，不影响当前投屏: 命令超时: " + rig.adb.adbPath().string() + " connect " + t;
    EXPECT_EQ(lines(), (std::vector<std::string>{failure, failure}));
}

}  // namespace
}  // namespace orvan
