// The wireless connect ladder, branch by branch, against the scripted fake adb on a virtual clock:
// which commands run in which order with which time-outs, the retry delays, what reaches
// onFailure (with its marker) and what is logged.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "foundation/MirrorError.h"
#include "mirror/ConnectionRig.h"
#include "platform/Process.h"

namespace orvan {
namespace {

using testing::ConnectionRig;
using testing::kTarget;
using testing::kTargetIp;
using testing::kTargetPort;
using Outcome = LocalNetworkProbeOutcome;

constexpr auto kShared = AdbServerScope::sharedDevelopment;
constexpr auto kPrivate = AdbServerScope::privateMirroring;

class WirelessAdbConnectorTest : public ::testing::Test {
protected:
    bool connect(double timeout = 5.0, AdbServerScope scope = kShared, bool silent = false,
                 bool immediateFallback = false) {
        return rig.connector.tryConnectWirelessAdb(
            kTargetIp, kTargetPort,
            {.timeout = timeout,
             .logging = silent ? Logging::silent : Logging::logged,
             .onFailure = [this](const std::string& message) { failures.push_back(message); },
             .scope = scope,
             .preferImmediateSharedFallback = immediateFallback});
    }
    std::string adbLine(const std::string& arguments) const {
        return "$ " + rig.adb.adbPath().string() + " " + arguments;
    }
    // The first connect and the four retries time out on the network.
    static testing::FakeAdbRuleBuilder& timedOutFiveTimes(testing::FakeAdbRuleBuilder&& rule) {
        for (int i = 0; i < 5; ++i) rule.reply("failed to connect to '127.0.0.2:5555': Connection timed out", 1);
        return rule;
    }
    // The sleeps of the ladder itself, without the 0.08 s transport and 0.25 s authorization polls.
    std::vector<double> ladderSleeps() const {
        std::vector<double> result;
        for (double s : rig.clock.sleeps())
            if (s != 0.08 && s != 0.25) result.push_back(s);
        return result;
    }

    ConnectionRig rig{16061};
    std::vector<std::string> failures;
    const std::string t = kTarget;
    const std::string refused = "failed to connect to '127.0.0.2:5555': Connection refused";
};

TEST_F(WirelessAdbConnectorTest, AnsweringTransportIsReusedWithoutConnect) {
    rig.scriptTransport();
    rig.glassesOnline();
    EXPECT_TRUE(connect());
    EXPECT_TRUE(rig.actions().empty());
    EXPECT_EQ(rig.connectedTarget.get(), t);
    EXPECT_TRUE(failures.empty());
    EXPECT_TRUE(rig.logs.lines().empty());  // a reachable port is not worth a line
    ASSERT_EQ(rig.network.calls().size(), 1u);
    EXPECT_EQ(rig.network.calls()[0].ip, kTargetIp);
    EXPECT_EQ(rig.network.calls()[0].port, 5555);
    EXPECT_EQ(rig.network.calls()[0].timeout, 1.2);
    EXPECT_EQ(rig.invocationsOf("__ORVAN_MIRROR_ADB_READY__").at(0).timeout, 1.2);
}

TEST_F(WirelessAdbConnectorTest, PrecheckLogsByOutcomeAndNeverStopsTheConnect) {
    rig.scriptTransport();
    rig.glassesOnline();
    rig.network.script({Outcome::unavailable("Connection refused")});
    EXPECT_TRUE(connect());
    EXPECT_EQ(rig.logs.lines(),
              std::vector<std::string>{"眼镜 ADB 端口预检暂未连通，继续尝试 adb connect: Connection refused"});

    rig.logs.clear();
    rig.network.script({Outcome::denied()});
    EXPECT_TRUE(connect());
    EXPECT_EQ(rig.logs.lines(),
              std::vector<std::string>{"本地网络权限探测报告拒绝，宽松连接模式仍继续实际 adb connect: " + t});

    rig.logs.clear();
    rig.network.setLocalNetworkPermissionConfirmed(true);
    size_t probes = rig.network.calls().size();
    EXPECT_TRUE(connect());
    EXPECT_EQ(rig.network.calls().size(), probes);  // confirmed: no probe at all
    EXPECT_EQ(rig.logs.lines(), std::vector<std::string>{"系统已确认本地网络可用，直接开始 adb connect: " + t});
}

TEST_F(WirelessAdbConnectorTest, DeadDeviceTransportIsResetBeforeTheConnect) {
    rig.adb.on({"disconnect", t}).reply("disconnected " + t).sets("state", "");
    rig.adb.on({"connect", t}).reply("connected to " + t).sets("state", "device").sets("answers", "yes");
    rig.scriptTransport();
    rig.adb.setVariable("state", "device");  // listed, but the echo fails
    EXPECT_TRUE(connect(6.0));
    EXPECT_EQ(rig.actions(), (std::vector<std::string>{"disconnect " + t, "connect " + t}));
    EXPECT_EQ(rig.invocationsExactly("disconnect " + t).at(0).timeout, 4.0);  // min(4, 6)
    EXPECT_EQ(rig.invocationsExactly("connect " + t).at(0).timeout, 6.0);
    EXPECT_TRUE(rig.invocationsExactly("connect " + t).at(0).logCommand);
    EXPECT_EQ(ladderSleeps(), std::vector<double>{0.1});
    EXPECT_TRUE(rig.logs.contains("无线 ADB transport 状态为 device 但已无响应，正在定向重连: " + t));
    EXPECT_EQ(rig.connectedTarget.get(), t);
}

TEST_F(WirelessAdbConnectorTest, FreshConnectWaitsLongerAfterAnAcceptedConnect) {
    rig.adb.on({"connect", t}).reply("connected to " + t).sets("state", "device").sets("answers", "yes");
    rig.scriptTransport();
    EXPECT_TRUE(connect());
    EXPECT_EQ(rig.actions(), std::vector<std::string>{"connect " + t});
    EXPECT_EQ(rig.logs.lines(), (std::vector<std::string>{adbLine("connect " + t), "connected to " + t}));
    EXPECT_TRUE(ladderSleeps().empty());
}

TEST_F(WirelessAdbConnectorTest, RefusedGlassesGoThroughFourRetriesAndFail) {
    rig.adb.on({"connect", t}).reply(refused, 1);
    rig.scriptTransport();
    EXPECT_FALSE(connect(3.0));
    EXPECT_EQ(rig.actions(), std::vector<std::string>(5, "connect " + t));
    EXPECT_EQ(rig.network.timeouts(), (std::vector<double>{1.2, 0.6, 0.6, 0.6, 0.6}));
    std::vector<double> connectTimeouts;
    for (const auto& invocation : rig.invocationsExactly("connect " + t)) connectTimeouts.push_back(invocation.timeout);
    EXPECT_EQ(connectTimeouts, (std::vector<double>{3.0, 3.0, 3.0, 3.0, 8.0}));  // the slow fallback: at least 8 s
    EXPECT_EQ(ladderSleeps(), (std::vector<double>{0.4, 1.0, 2.0, 4.0}));
    EXPECT_EQ(failures, std::vector<std::string>{refused});  // refused is no network failure: unmarked
    for (const char* line : {"眼镜网络可能正在切换，0.4 秒后进行第 1 次自动重试: 127.0.0.2:5555",
                             "眼镜网络可能正在切换，1 秒后进行第 2 次自动重试: 127.0.0.2:5555",
                             "眼镜网络可能正在切换，2 秒后进行第 3 次自动重试: 127.0.0.2:5555",
                             "眼镜网络可能正在切换，4 秒后进行第 4 次自动重试（慢速兜底）: 127.0.0.2:5555"})
        EXPECT_TRUE(rig.logs.contains(line)) << line;
    EXPECT_EQ(rig.logs.lines().back(), "无线 ADB 多次连接失败: " + refused);
    EXPECT_FALSE(rig.connectedTarget.get().has_value());
    // Between retries: 1.5 s transport waits (min(2, max(1, 3/2))), after the first connect 0.25 s.
    size_t polls = 0;
    for (double s : rig.clock.sleeps()) polls += s == 0.08;
    EXPECT_EQ(polls, 4u + 4u * 19u);
}

TEST_F(WirelessAdbConnectorTest, RetrySucceedsOnceTheNetworkSettles) {
    rig.adb.on({"connect", t})
        .reply(refused, 1)
        .reply(refused, 1)
        .reply("connected to " + t)
        .sets("state", "device")
        .sets("answers", "yes");
    rig.scriptTransport();
    rig.network.script(
        {Outcome::unavailable("No route to host"), Outcome::unavailable("No route to host"), Outcome::reachable()});
    EXPECT_TRUE(connect());
    EXPECT_EQ(rig.actions(), std::vector<std::string>(3, "connect " + t));
    EXPECT_EQ(ladderSleeps(), (std::vector<double>{0.4, 1.0}));
    EXPECT_TRUE(rig.logs.contains("自动重试前眼镜端口仍未连通: No route to host"));
    EXPECT_TRUE(rig.logs.contains("无线 ADB 自动重试成功: " + t));
    EXPECT_EQ(rig.connectedTarget.get(), t);
    EXPECT_TRUE(failures.empty());
}

TEST_F(WirelessAdbConnectorTest, AcceptedConnectWithoutTransportRetriesThenFails) {
    rig.adb.on({"connect", t}).reply("connected to " + t);  // accepted, yet nothing is ever listed
    rig.scriptTransport();
    EXPECT_FALSE(connect());
    EXPECT_TRUE(rig.logs.contains("adb connect 已受理但 transport 尚未就绪，进入有限重试: " + t));
    EXPECT_EQ(rig.actions(), std::vector<std::string>(5, "connect " + t));
    EXPECT_EQ(failures, std::vector<std::string>{"connected to " + t});
}

TEST_F(WirelessAdbConnectorTest, ImmediateSharedFallbackGivesUpAfterOneConnect) {
    rig.adb.on({"-P", "16061", "connect", t}).reply("connected to " + t);
    rig.scriptTransport();
    EXPECT_FALSE(connect(5.0, kPrivate, false, true));
    EXPECT_EQ(rig.actions(), std::vector<std::string>{"-P 16061 connect " + t});
    EXPECT_EQ(failures, std::vector<std::string>{"connected to " + t});  // the raw output, no marker
    EXPECT_TRUE(rig.logs.contains("投屏专用 16061 未及时形成有效 transport，立即回退共享 5037: " + t));
    EXPECT_FALSE(rig.logs.contains("无线 ADB 多次连接失败: connected to " + t));
}

TEST_F(WirelessAdbConnectorTest, ImmediateFallbackAlsoOnANetworkFailureButNotOnARefusal) {
    rig.adb.on({"**", "connect", t})
        .reply("failed to connect to '127.0.0.2:5555': Connection timed out", 1)
        .reply(refused, 1);
    rig.scriptTransport();
    EXPECT_FALSE(connect(5.0, kPrivate, true, true));
    EXPECT_EQ(failures, std::vector<std::string>{"failed to connect to '127.0.0.2:5555': Connection timed out"});
    EXPECT_EQ(rig.actions().size(), 1u);

    failures.clear();
    rig.trace.clear();
    EXPECT_FALSE(connect(5.0, kPrivate, true, true));  // refused: the normal retries
    EXPECT_EQ(rig.actions().size(), 5u);
    EXPECT_EQ(failures, std::vector<std::string>{refused});
}

TEST_F(WirelessAdbConnectorTest, OfflineAfterConnectWaitsForAuthorization) {
    rig.adb.on({"connect", t}).reply("connected to " + t).sets("state", "offline");
    rig.adb.on({"disconnect", t}).reply("disconnected " + t);
    rig.scriptTransport();
    EXPECT_FALSE(connect());
    EXPECT_EQ(failures, std::vector<std::string>{"offline"});  // the wait's own message, unmarked
    EXPECT_TRUE(rig.logs.contains("无线 ADB 首次进入 offline，保留现有 transport 等待眼镜授权: " + t));
    EXPECT_TRUE(rig.logs.contains("offline 定向重连一次后仍未就绪: " + t));
    EXPECT_EQ(rig.actions(), (std::vector<std::string>{"connect " + t, "disconnect " + t, "connect " + t}));
    EXPECT_FALSE(rig.logs.contains("无线 ADB 多次连接失败: offline"));
}

TEST_F(WirelessAdbConnectorTest, OfflineWaitThatThrowsTakesTheFailureExit) {
    rig.adb.on({"connect", t}).reply("connected to " + t).sets("state", "offline");
    rig.adb.on({"disconnect", t}).reply("").hangs();
    rig.scriptTransport();
    EXPECT_FALSE(connect(0.3));
    std::string timeout = "命令超时: " + rig.adb.adbPath().string() + " disconnect " + t;
    EXPECT_EQ(rig.logs.lines().back(), "无线 ADB 重连失败: " + timeout);
    // A time-out on the shared server while the glasses' port answers asks for its recovery.
    EXPECT_EQ(failures, std::vector<std::string>{"ADB_SERVER_RECOVERY_REQUIRED:" + timeout});
}

TEST_F(WirelessAdbConnectorTest, AlreadyConnectedButSilentIsResetOnce) {
    rig.adb.on({"connect", t})
        .reply("already connected to " + t)
        .reply("connected to " + t)
        .sets("state", "device")
        .sets("answers", "yes");
    rig.adb.on({"disconnect", t}).reply("disconnected " + t);
    rig.scriptTransport();
    EXPECT_TRUE(connect());
    EXPECT_EQ(rig.actions(), (std::vector<std::string>{"connect " + t, "disconnect " + t, "connect " + t}));
    EXPECT_TRUE(rig.logs.contains("无线 ADB 已登记但尚未响应，仅定向重置当前设备连接: " + t));
    EXPECT_EQ(rig.invocationsExactly("disconnect " + t).at(0).timeout, 4.0);
    EXPECT_EQ(rig.invocationsExactly("connect " + t).at(1).timeout, 5.0);
    EXPECT_EQ(ladderSleeps(), std::vector<double>{0.1});
    EXPECT_EQ(rig.connectedTarget.get(), t);
}

TEST_F(WirelessAdbConnectorTest, FailedTargetedResetContinuesWithItsOwnOutput) {
    rig.adb.on({"connect", t}).reply("already connected to " + t).reply(refused, 1);
    rig.adb.on({"disconnect", t}).reply("disconnected " + t);
    rig.scriptTransport();
    EXPECT_FALSE(connect());
    EXPECT_TRUE(rig.logs.contains("无线 ADB 定向重连失败: " + refused));
    // The second connect's refusal is transient: four retries follow.
    EXPECT_EQ(rig.actions().size(), 3u + 4u);
    EXPECT_EQ(failures, std::vector<std::string>{refused});
}

TEST_F(WirelessAdbConnectorTest, AuthenticationFailureWaitsEightSecondsForTheUser) {
    rig.adb.on({"connect", t}).reply("failed to authenticate to " + t, 1);
    rig.scriptTransport();
    rig.adb.setVariable("state", "unauthorized");
    EXPECT_FALSE(connect());
    EXPECT_EQ(rig.actions(), std::vector<std::string>{"connect " + t});  // no retries for a refused key
    EXPECT_TRUE(rig.logs.contains("ADB 正在等待眼镜授权，保留 8 秒确认时间: " + t));
    EXPECT_TRUE(rig.logs.contains("等待眼镜端 ADB 授权超时: " + t));
    EXPECT_EQ(rig.logs.lines().back(), "无线 ADB 多次连接失败: failed to authenticate to " + t);
    EXPECT_EQ(failures, std::vector<std::string>{"failed to authenticate to " + t});
}

TEST_F(WirelessAdbConnectorTest, AuthorizationGivenDuringTheWaitConnects) {
    rig.adb.on({"connect", t}).reply("connected to " + t).sets("state", "unauthorized");
    // Unauthorized through the 1.2 s transport wait (16 state queries), the classification (1)
    // and three authorization checks; the user accepts before the fourth.
    auto states = rig.adb.on({"-s", t, "get-state"});
    states.when("state", "unauthorized");
    for (int i = 0; i < 20; ++i) states.reply("error: device unauthorized.", 1);
    states.reply("device").sets("answers", "yes");
    rig.scriptTransport();
    EXPECT_TRUE(connect());
    EXPECT_TRUE(rig.logs.contains("ADB 正在等待眼镜授权，保留 8 秒确认时间: " + t));
    EXPECT_TRUE(rig.logs.contains("眼镜端 ADB 授权已确认: " + t));
    EXPECT_EQ(rig.connectedTarget.get(), t);
    EXPECT_EQ(rig.actions(), std::vector<std::string>{"connect " + t});
    size_t authorizationPolls = 0;
    for (double s : rig.clock.sleeps()) authorizationPolls += s == 0.25;
    EXPECT_EQ(authorizationPolls, 3u);
}

TEST_F(WirelessAdbConnectorTest, RetryEndsEarlyOnAKnownStateThatIsNoProgress) {
    // After the first retry the target is listed as "host"-like junk: a known state, not offline,
    // not unauthorized, with an output that promises nothing.
    rig.adb.on({"connect", t}).reply(refused, 1).reply("error: protocol fault", 1).sets("state", "bootloader");
    rig.adb.on({"-s", t, "get-state"}).when("state", "bootloader").reply("error: unknown state", 1);
    rig.adb.on({"devices"}).when("state", "bootloader").reply("List of devices attached\n" + t + "\tBootloader");
    rig.scriptTransport();
    EXPECT_FALSE(connect());
    EXPECT_EQ(rig.actions().size(), 2u);
    EXPECT_EQ(failures, std::vector<std::string>{"error: protocol fault"});
}

TEST_F(WirelessAdbConnectorTest, SharedServerTimeOutWithReachableGlassesAsksForRecovery) {
    // The first four connects hang until their 0.2 s time-out; the slow fallback (8 s) is answered.
    rig.adb.on({"connect", t})
        .reply("")
        .hangs()
        .reply("")
        .hangs()
        .reply("")
        .hangs()
        .reply("")
        .hangs()
        .reply("error: timed out", 1);
    rig.scriptTransport();
    EXPECT_FALSE(connect(0.2));
    std::string timeoutLine = "命令超时: " + rig.adb.adbPath().string() + " connect " + t;
    EXPECT_TRUE(rig.logs.contains("无线 ADB connect 命令异常: " + timeoutLine));
    EXPECT_EQ(rig.actions().size(), 5u);
    EXPECT_EQ(failures, std::vector<std::string>{"ADB_SERVER_RECOVERY_REQUIRED:error: timed out"});
}

TEST_F(WirelessAdbConnectorTest, DenialWithUnconfirmedPermissionAsksForLocalNetworkAccess) {
    rig.adb.on({"connect", t}).reply("failed to connect to '127.0.0.2:5555': Connection timed out", 1);
    rig.scriptTransport();
    rig.network.script({Outcome::denied()});
    EXPECT_FALSE(connect());
    EXPECT_EQ(failures, std::vector<std::string>{
                            "LOCAL_NETWORK_DENIED: failed to connect to '127.0.0.2:5555': Connection timed out"});
    EXPECT_TRUE(rig.logs.contains("自动重试时权限探测仍报告拒绝，继续以实际 ADB 结果为准: " + t));

    // Permission confirmed meanwhile: no local-network marker; the port was never reachable, so
    // no recovery marker either.
    failures.clear();
    rig.network.setLocalNetworkPermissionConfirmed(true);
    EXPECT_FALSE(connect());
    EXPECT_EQ(failures, std::vector<std::string>{"failed to connect to '127.0.0.2:5555': Connection timed out"});
    EXPECT_TRUE(rig.logs.contains("本地网络权限已确认，继续本次无线 ADB 自动重试: " + t));
}

TEST_F(WirelessAdbConnectorTest, PrivateServerIsRestartedOnceWhenOnlyItIsBroken) {
    timedOutFiveTimes(rig.adb.on({"-P", "16061", "connect", t}))
        .reply("connected to " + t)
        .sets("state", "device")
        .sets("answers", "yes");
    rig.adb.on({"-P", "16061", "kill-server"}).reply("");
    rig.adb.on({"-P", "16061", "start-server"}).reply("* daemon started successfully");
    rig.scriptTransport();
    EXPECT_TRUE(connect(3.0, kPrivate));
    auto actions = rig.actions();
    ASSERT_EQ(actions.size(), 8u);
    EXPECT_EQ(std::vector<std::string>(actions.begin() + 5, actions.end()),
              (std::vector<std::string>{"-P 16061 kill-server", "-P 16061 start-server", "-P 16061 connect " + t}));
    EXPECT_EQ(rig.invocationsExactly("-P 16061 connect " + t).back().timeout, 4.0);  // max(4, 3)
    EXPECT_TRUE(rig.logs.contains("主应用可访问眼镜但专用 ADB 异常，仅重启 16061 后重试一次: " + t));
    EXPECT_TRUE(rig.logs.contains("投屏专用 16061 自动恢复成功: " + t));
    EXPECT_EQ(rig.connectedTarget.get(), t);
    for (const auto& invocation : rig.trace.invocations())
        EXPECT_EQ(invocation.scope, kPrivate) << invocation.arguments;
}

TEST_F(WirelessAdbConnectorTest, FailedRepairReportsTheRepairAttempt) {
    timedOutFiveTimes(rig.adb.on({"-P", "16061", "connect", t}))
        .reply("failed to connect to '127.0.0.2:5555': No route to host", 1);
    rig.adb.on({"-P", "16061", "kill-server"}).reply("");
    rig.adb.on({"-P", "16061", "start-server"}).reply("");
    rig.scriptTransport();
    rig.network.script({Outcome::unavailable("x"), Outcome::unavailable("x"), Outcome::unavailable("x"),
                        Outcome::unavailable("x"), Outcome::unavailable("x"), Outcome::reachable()});
    EXPECT_FALSE(connect(5.0, kPrivate));
    EXPECT_EQ(rig.network.timeouts().back(), 0.6);  // a new probe decided that the glasses are reachable
    // The private scope never carries the shared-server marker.
    EXPECT_EQ(failures, std::vector<std::string>{"failed to connect to '127.0.0.2:5555': No route to host"});
    EXPECT_EQ(rig.logs.lines().back(),
              "无线 ADB 多次连接失败: failed to connect to '127.0.0.2:5555': No route to host");
}

TEST_F(WirelessAdbConnectorTest, NoRepairWhenTheGlassesAreUnreachable) {
    rig.adb.on({"-P", "16061", "connect", t}).reply("failed to connect to '127.0.0.2:5555': Connection timed out", 1);
    rig.scriptTransport();
    rig.network.script({Outcome::unavailable("Connection timed out")});
    EXPECT_FALSE(connect(5.0, kPrivate));
    for (const auto& action : rig.actions()) EXPECT_TRUE(action.ends_with("connect " + t)) << action;
}

TEST_F(WirelessAdbConnectorTest, MissingToolsFailBeforeAnyCommand) {
    std::filesystem::remove(rig.adb.folder() / "scrcpy");
    EXPECT_FALSE(connect());
    EXPECT_TRUE(rig.trace.invocations().empty());
    std::string message = "缺少工具文件: " + (rig.adb.folder() / "scrcpy").string();
    EXPECT_EQ(rig.logs.lines(), std::vector<std::string>{"无线 ADB 重连失败: " + message});
    EXPECT_EQ(failures, std::vector<std::string>{message});
}

TEST_F(WirelessAdbConnectorTest, SilentLadderLogsNothingAndEchoesNoCommand) {
    rig.adb.on({"connect", t}).reply(refused, 1);
    rig.scriptTransport();
    rig.network.script({Outcome::unavailable("Connection refused")});
    EXPECT_FALSE(connect(5.0, kShared, true));
    EXPECT_TRUE(rig.logs.lines().empty());
    for (const auto& invocation : rig.trace.invocations()) EXPECT_FALSE(invocation.logCommand) << invocation.arguments;
    EXPECT_EQ(failures.size(), 1u);  // the caller still hears about it
}

TEST_F(WirelessAdbConnectorTest, MalformedConnectOutputsNeverCrash) {
    rig.adb.on({"connect", t})
        .replyBytes("\xff\xfe\x00garbage", 0)
        .reply("")
        .reply("CONNECTED TO 127.0.0.2:5555")
        .reply("x")
        .repeated(200000);
    rig.scriptTransport();
    EXPECT_FALSE(connect());
    // Invalid UTF-8 reads as empty output with status 0: accepted, so the retries run; the last
    // (huge) output is the message.
    EXPECT_EQ(rig.actions().size(), 5u);
    ASSERT_EQ(failures.size(), 1u);
    EXPECT_EQ(failures[0].size(), 200000u);
}

TEST_F(WirelessAdbConnectorTest, ConnectWifiAdbReturnsTheTarget) {
    rig.adb.on({"connect", t}).reply("connected to " + t).sets("state", "device").sets("answers", "yes");
    rig.scriptTransport();
    EXPECT_EQ(rig.connector.connectWifiAdb(kTargetIp), t);
    auto connect = rig.invocationsExactly("connect " + t).at(0);
    EXPECT_EQ(connect.timeout, 20.0);
    EXPECT_TRUE(connect.logCommand);
    EXPECT_EQ(connect.scope, kShared);
    EXPECT_EQ(rig.connectedTarget.get(), t);
}

TEST_F(WirelessAdbConnectorTest, ConnectWifiAdbExplainsAFailure) {
    rig.adb.on({"connect", t}).reply("failed to connect to '127.0.0.2:5555': No route to host", 1);
    rig.scriptTransport();
    try {
        rig.connector.connectWifiAdb(kTargetIp);
        FAIL() << "no error";
    } catch (const MirrorError& error) {
        EXPECT_TRUE(std::string(error.what()).starts_with("电脑无法访问眼镜内网 IP：127.0.0.2。\n")) << error.what();
        EXPECT_TRUE(
            std::string(error.what()).ends_with("\n原始错误：failed to connect to '127.0.0.2:5555': No route to host"));
    }
    // The last chance: a transport that answers within 4 s.
    auto last = rig.invocationsOf("__ORVAN_MIRROR_ADB_READY__");
    EXPECT_TRUE(last.empty());  // never "device", so no echo was tried
}

TEST_F(WirelessAdbConnectorTest, ConnectWifiAdbAcceptsATargetThatCameOnlineAnyway) {
    rig.adb.on({"connect", t}).reply("error: closed", 1);
    rig.adb.on({"-s", t, "get-state"}).reply("error: device '127.0.0.2:5555' not found", 1).reply("device");
    rig.adb.on({"-s", t, "shell", "echo", "*"}).reply("__ORVAN_MIRROR_ADB_READY__");
    rig.scriptTransport();
    EXPECT_EQ(rig.connector.connectWifiAdb(kTargetIp), t);
    EXPECT_TRUE(rig.logs.contains("adb connect 超时，但目标已在线: " + t));
    EXPECT_EQ(rig.invocationsOf("__ORVAN_MIRROR_ADB_READY__").back().timeout, 4.0);
    EXPECT_EQ(rig.connectedTarget.get(), t);
}

TEST_F(WirelessAdbConnectorTest, ConnectWifiAdbPassesOnALaunchError) {
    std::filesystem::remove(rig.adb.adbPath());
    std::ofstream(rig.adb.adbPath()) << "not a program";
    EXPECT_THROW(rig.connector.connectWifiAdb(kTargetIp), LaunchError);
}

}  // namespace
}  // namespace orvan
