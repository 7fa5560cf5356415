// Readiness and authorization waits against the scripted adb answered in-process, on a virtual
// clock: which checks run, with which time-outs, how often, and what is logged.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "foundation/MirrorError.h"
#include "support/ConnectionRig.h"

namespace orvan {
namespace {

using testing::ConnectionRig;
using testing::kTarget;
using ::testing::ElementsAre;

constexpr auto kShared = AdbServerScope::sharedDevelopment;
constexpr auto kPrivate = AdbServerScope::privateMirroring;

class TargetReadinessTest : public ::testing::Test {
protected:
    ConnectionRig rig{16051};
    const std::string t = kTarget;
    const std::string echo = std::string("-s ") + kTarget + " shell echo __ORVAN_MIRROR_ADB_READY__";
};

TEST_F(TargetReadinessTest, AnsweringTargetIsReadyAfterOneCheckWithTheEchoCappedAtOneAndAHalfSeconds) {
    rig.scriptTransport();
    rig.glassesOnline();
    EXPECT_TRUE(rig.readiness.waitForAdbTargetResponsive(t, 1.2, kShared));
    // The echo alone decides: adb opens no shell on a transport that is not "device".
    EXPECT_THAT(rig.trace.lines(), ElementsAre(echo));
    EXPECT_THAT(rig.trace.timeouts(), ElementsAre(1.2));
    EXPECT_TRUE(rig.clock.sleeps().empty());
    rig.trace.clear();
    EXPECT_TRUE(rig.readiness.waitForAdbTargetResponsive(t, 3.0, kPrivate));
    EXPECT_THAT(rig.trace.timeouts(), ElementsAre(1.5));
    EXPECT_EQ(rig.runsOf("-P 16051 " + echo).size(), 1u);
    rig.trace.clear();
    EXPECT_TRUE(rig.readiness.isWirelessAdbTargetReady(t, kShared));
    EXPECT_EQ(rig.trace.timeouts().back(), 1.0);  // the default time-out of the readiness test
}

TEST_F(TargetReadinessTest, TinyTimeOutStillMakesOneFullCheck) {
    rig.scriptTransport();
    rig.adb.setVariable("state", "device");  // listed, but the echo fails: a dead transport
    EXPECT_FALSE(rig.readiness.waitForAdbTargetResponsive(t, 0.0, kShared));
    EXPECT_THAT(rig.trace.lines(), ElementsAre(echo));
    EXPECT_EQ(rig.runsOf(echo).at(0).timeout, 0.0);
    EXPECT_EQ(rig.clock.sleeps(), std::vector<double>{0.08});

    rig.trace.clear();
    EXPECT_FALSE(rig.readiness.waitForAdbTargetResponsive(t, 0.25, kShared));
    // Checks at 0, 0.08, 0.16 and 0.24 s of virtual time, each a 0.25 s echo.
    EXPECT_EQ(rig.trace.lines().size(), 4u);
    for (const auto& invocation : rig.runsOf(echo)) EXPECT_EQ(invocation.timeout, 0.25);
}

TEST_F(TargetReadinessTest, AnsweringTargetIsFoundAsSoonAsItAnswers) {
    // Not there for three checks, then connected and answering.
    auto echoes = rig.adb.on({"-s", t, "shell", "echo", "*"});
    for (int i = 0; i < 3; ++i) echoes.reply("error: device '127.0.0.2:5555' not found", 1);
    echoes.reply(kAdbReadyMarker);
    rig.scriptTransport();
    EXPECT_TRUE(rig.readiness.waitForAdbTargetResponsive(t, 2.0, kShared));
    EXPECT_EQ(rig.clock.sleeps().size(), 3u);
    EXPECT_TRUE(rig.runsOf("devices").empty());  // an unknown target needs no listing
}

TEST_F(TargetReadinessTest, AuthorizationNeverGivenEndsAfterTheWait) {
    rig.scriptTransport();
    rig.adb.setVariable("state", "unauthorized");
    EXPECT_FALSE(rig.readiness.waitForWirelessAdbAuthorization(t, 8.0, Logging::logged, kShared));
    EXPECT_EQ(rig.logs.lines(), (std::vector<std::string>{"ADB 正在等待眼镜授权，保留 8 秒确认时间: " + t,
                                                          "等待眼镜端 ADB 授权超时: " + t}));
    auto sleeps = rig.clock.sleeps();
    EXPECT_EQ(sleeps.size(), 33u);  // checks every 0.25 s until past 8 s
    EXPECT_EQ(sleeps.back(), 0.25);
    EXPECT_TRUE(rig.adb.unmatchedCalls().empty());
}

TEST_F(TargetReadinessTest, OfflineTargetAuthorizedInTimeNeedsNoDisconnect) {
    rig.adb.on({"-s", t, "get-state"})
        .reply("error: device offline", 1)
        .reply("error: device offline", 1)
        .reply("device");
    rig.adb.on({"devices"}).reply("List of devices attached\n" + t + "\toffline");
    rig.adb.on({"-s", t, "shell", "echo", "*"}).reply("__ORVAN_MIRROR_ADB_READY__");
    auto outcome = rig.readiness.waitForOfflineAuthorizationThenReconnectOnce(t, 5.0, Logging::logged, kShared);
    EXPECT_EQ(outcome, (TargetReadiness::OfflineOutcome{true, ""}));
    EXPECT_TRUE(rig.actions().empty());
    EXPECT_EQ(rig.logs.lines().front(), "无线 ADB 首次进入 offline，保留现有 transport 等待眼镜授权: " + t);
}

TEST_F(TargetReadinessTest, OfflineTargetIsResetOnceThenWaitedForAgain) {
    rig.adb.on({"disconnect", t}).reply("disconnected " + t);
    rig.adb.on({"connect", t}).reply("connected to " + t);
    rig.scriptTransport();
    rig.adb.setVariable("state", "offline");
    auto outcome = rig.readiness.waitForOfflineAuthorizationThenReconnectOnce(t, 5.0, Logging::logged, kShared);
    EXPECT_EQ(outcome, (TargetReadiness::OfflineOutcome{false, "offline"}));
    EXPECT_EQ(rig.actions(), (std::vector<std::string>{"disconnect " + t, "connect " + t}));
    auto disconnect = rig.runsOf("disconnect " + t).at(0);
    auto connect = rig.runsOf("connect " + t).at(0);
    EXPECT_EQ(disconnect.timeout, 4.0);
    EXPECT_TRUE(disconnect.logCommand);
    EXPECT_EQ(connect.timeout, 5.0);
    EXPECT_EQ(rig.logs.lines().back(), "offline 定向重连一次后仍未就绪: " + t);
    // 8 s of authorization polls, the 0.1 s pause, 2 s (min(2, max(1, 5/2))) of transport polls,
    // then 4 s of authorization polls.
    auto sleeps = rig.clock.sleeps();
    ASSERT_EQ(sleeps.size(), 33u + 1u + 26u + 17u);
    EXPECT_EQ(sleeps[33], 0.1);
    EXPECT_EQ(sleeps[34], 0.08);
}

TEST_F(TargetReadinessTest, OfflineResetThatConnectsSucceedsQuietly) {
    rig.adb.on({"disconnect", t}).reply("disconnected " + t);
    rig.adb.on({"connect", t}).reply("connected to " + t).sets("state", "device").sets("answers", "yes");
    rig.scriptTransport();
    rig.adb.setVariable("state", "offline");
    auto outcome = rig.readiness.waitForOfflineAuthorizationThenReconnectOnce(t, 1.0, Logging::silent, kShared);
    EXPECT_EQ(outcome, (TargetReadiness::OfflineOutcome{true, ""}));
    EXPECT_TRUE(rig.logs.lines().empty());
    EXPECT_EQ(rig.runsOf("disconnect " + t).at(0).timeout, 1.0);  // min(4, the connect time-out)
    EXPECT_FALSE(rig.runsOf("disconnect " + t).at(0).logCommand);
}

// A disconnect that times out is thrown (the connector's OfflineWaitThatThrows row); a connect
// that times out is only logged.
TEST_F(TargetReadinessTest, OfflineConnectErrorIsLogged) {
    rig.adb.on({"disconnect", t}).reply("");
    rig.adb.on({"connect", t}).reply("").hangs();
    rig.scriptTransport();
    rig.adb.setVariable("state", "offline");
    auto outcome = rig.readiness.waitForOfflineAuthorizationThenReconnectOnce(t, 0.3, Logging::logged, kShared);
    EXPECT_FALSE(outcome.connected);
    EXPECT_TRUE(
        rig.logs.contains("无线 ADB connect 命令异常: 命令超时: " + rig.adb.adbPath().string() + " connect " + t));
}

TEST_F(TargetReadinessTest, RefreshConnectsOnceQuietlyAndWaitsByTheConnectResult) {
    rig.adb.on({"connect", t})
        .reply("connected to " + t)
        .reply("failed to connect to '" + t + "': Connection refused", 1);
    rig.scriptTransport();
    EXPECT_FALSE(rig.readiness.refreshWirelessAdbTargetOnce("127.0.0.2", 5555, kShared));
    auto connect = rig.runsOf("connect " + t).at(0);
    EXPECT_EQ(connect.timeout, 3.0);
    EXPECT_FALSE(connect.logCommand);
    EXPECT_EQ(rig.clock.sleeps().size(), 16u);  // 1.2 s of 0.08 s polls after a successful connect

    EXPECT_FALSE(rig.readiness.refreshWirelessAdbTargetOnce("127.0.0.2", 5555, kShared));
    EXPECT_EQ(rig.clock.sleeps().size(), 16u + 6u);  // 0.4 s after a failed one
    EXPECT_TRUE(rig.logs.lines().empty());

    rig.glassesOnline();  // an answering target is reused
    rig.trace.clear();
    EXPECT_TRUE(rig.readiness.refreshWirelessAdbTargetOnce("127.0.0.2", 5555, kShared));
    EXPECT_TRUE(rig.actions().empty());
}

}  // namespace
}  // namespace orvan
