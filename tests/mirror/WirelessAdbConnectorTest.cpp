// The wireless connect ladder against the scripted adb answered in-process on a virtual clock. One
// row per branch: the commands it runs (state queries and echoes aside) and what reaches
// onFailure, with its marker; then the time-outs and pauses the ladder asks for.

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <tuple>

#include "mirror/WirelessAdbConnectText.h"
#include "support/ConnectionRig.h"
#include "support/ErrorOf.h"

namespace orvan {
namespace {

using testing::ConnectionRig;
using testing::kTargetIp;
using testing::kTargetPort;
using Outcome = LocalNetworkProbeOutcome;
using Lines = std::vector<std::string>;
using Values = std::vector<double>;

constexpr auto kShared = AdbServerScope::sharedDevelopment;
constexpr auto kPrivate = AdbServerScope::privateMirroring;
const std::string T = testing::kTarget;
const std::string kConnect = "connect " + T;
const std::string kPrivateConnect = "-P 16061 connect " + T;
const std::string kDisconnect = "disconnect " + T;
const std::string kEcho = "-s " + T + " shell echo __ORVAN_MIRROR_ADB_READY__";
const std::string kRefused = "failed to connect to '127.0.0.2:5555': Connection refused";
const std::string kTimedOut = "failed to connect to '127.0.0.2:5555': Connection timed out";
const std::string kNoRoute = "failed to connect to '127.0.0.2:5555': No route to host";
const Lines kRepair{"-P 16061 kill-server", "-P 16061 start-server", kPrivateConnect};

Lines times(size_t n, const std::string& line) {
    return Lines(n, line);
}
template <class Item>
std::vector<Item> operator+(std::vector<Item> a, const std::vector<Item>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}
// The glasses accept a connect and answer from then on.
template <class Rule>
void accepting(Rule&& rule) {
    rule.reply("connected to " + T).sets("state", "device").sets("answers", "yes");
}

// Scripts of the branches: rules ahead of the transport's, variables, probe outcomes.
void deniedProbe(ConnectionRig& rig) {
    rig.glassesOnline();
    rig.network.script({Outcome::denied()});
}
void confirmedPermission(ConnectionRig& rig) {
    rig.glassesOnline();
    rig.network.setLocalNetworkPermissionConfirmed(true);
}
void listedButSilent(ConnectionRig& rig) {
    rig.adb.on({"disconnect", T}).reply("disconnected " + T).sets("state", "");
    accepting(rig.adb.on({"connect", T}).reply("already connected to " + T));
    rig.adb.setVariable("state", "device");  // listed, but the echo fails
}
void freshConnect(ConnectionRig& rig) {
    accepting(rig.adb.on({"connect", T}));
}
void refused(ConnectionRig& rig) {
    rig.adb.on({"**", "connect", T}).reply(kRefused, 1);
}
void timingOut(ConnectionRig& rig) {
    rig.adb.on({"**", "connect", T}).reply(kTimedOut, 1);
}
void networkSettles(ConnectionRig& rig) {
    accepting(rig.adb.on({"connect", T}).reply(kRefused, 1).reply(kRefused, 1));
    auto noRoute = Outcome::unavailable("No route to host");
    rig.network.script({noRoute, noRoute, Outcome::reachable()});
}
void acceptedWithoutTransport(ConnectionRig& rig) {
    rig.adb.on({"**", "connect", T}).reply("connected to " + T);
}
void offlineAfterConnect(ConnectionRig& rig) {
    rig.adb.on({"connect", T}).reply("connected to " + T).sets("state", "offline");
    rig.adb.on({"disconnect", T}).reply("disconnected " + T);
}
void offlineThenHangingDisconnect(ConnectionRig& rig) {
    rig.adb.on({"connect", T}).reply("connected to " + T).sets("state", "offline");
    rig.adb.on({"disconnect", T}).reply("").hangs();
}
void alreadyConnectedButSilent(ConnectionRig& rig) {
    accepting(rig.adb.on({"connect", T}).reply("already connected to " + T));
    rig.adb.on({"disconnect", T}).reply("disconnected " + T);
}
void alreadyConnectedThenRefused(ConnectionRig& rig) {
    rig.adb.on({"connect", T}).reply("already connected to " + T).reply(kRefused, 1);
    rig.adb.on({"disconnect", T}).reply("disconnected " + T);
}
void keyRefused(ConnectionRig& rig) {
    rig.adb.on({"connect", T}).reply("failed to authenticate to " + T, 1);
    rig.adb.setVariable("state", "unauthorized");
}
void authorizedDuringTheWait(ConnectionRig& rig) {
    rig.adb.on({"connect", T}).reply("connected to " + T).sets("state", "unauthorized");
    // Unauthorized through the 1.2 s transport wait (echoes only), the classification and three
    // authorization checks; the user accepts before the fourth.
    auto states = rig.adb.on({"-s", T, "get-state"});
    states.when("state", "unauthorized");
    for (int i = 0; i < 4; ++i) states.reply("error: device unauthorized.", 1);
    states.reply("device").sets("state", "device").sets("answers", "yes");
}
void knownStateWithoutProgress(ConnectionRig& rig) {
    rig.adb.on({"connect", T}).reply(kRefused, 1).reply("error: protocol fault", 1).sets("state", "bootloader");
    rig.adb.on({"-s", T, "get-state"}).when("state", "bootloader").reply("error: unknown state", 1);
    rig.adb.on({"devices"}).when("state", "bootloader").reply("List of devices attached\n" + T + "\tBootloader");
}
void hangingSharedServer(ConnectionRig& rig) {
    auto connect = rig.adb.on({"connect", T});
    for (int i = 0; i < 4; ++i) connect.reply("").hangs();
    connect.reply("error: timed out", 1);
}
void deniedAndTimingOut(ConnectionRig& rig) {
    timingOut(rig);
    rig.network.script({Outcome::denied()});
}
void deniedButConfirmed(ConnectionRig& rig) {
    deniedAndTimingOut(rig);
    rig.network.setLocalNetworkPermissionConfirmed(true);
}
// The private server times out five connects; after its restart the sixth gets `last`.
testing::FakeAdbRuleBuilder brokenPrivateServer(ConnectionRig& rig) {
    rig.adb.on({"-P", "16061", "kill-server"}).reply("");
    rig.adb.on({"-P", "16061", "start-server"}).reply("");
    auto connect = rig.adb.on({"-P", "16061", "connect", T});
    for (int i = 0; i < 5; ++i) connect.reply(kTimedOut, 1);
    return connect;
}
void repairedPrivateServer(ConnectionRig& rig) {
    accepting(brokenPrivateServer(rig));
}
void unrepairedPrivateServer(ConnectionRig& rig) {
    brokenPrivateServer(rig).reply(kNoRoute, 1);
    // Unreachable until a new probe after the retries.
    rig.network.script(std::vector<Outcome>(5, Outcome::unavailable("x")) + std::vector{Outcome::reachable()});
}
void unreachableGlasses(ConnectionRig& rig) {
    timingOut(rig);
    rig.network.script({Outcome::unavailable("Connection timed out")});
}
void malformedOutputs(ConnectionRig& rig) {
    // Invalid UTF-8 reads as empty output with status 0: accepted, so the retries run; the last
    // (huge) output is the message.
    rig.adb.on({"connect", T}).replyBytes("\xff\xfe").reply("").reply("CONNECTED TO " + T).reply("x").repeated(200000);
}

struct Ladder {
    const char* name;
    void (*script)(ConnectionRig&);
    Lines actions;
    Lines failures;     // none: connected; "{adb}" stands for the fake's path
    Lines logged = {};  // where only the log tells the branch
    double timeout = 5.0;
    AdbServerScope scope = kShared;
    bool immediateFallback = false;
    std::map<std::string, Values> timeouts = {};  // every run of these argument lines
    friend void PrintTo(const Ladder& row, std::ostream* out) { *out << row.name; }

    Ladder with(double seconds, AdbServerScope serverScope = kShared, bool fallback = false,
                std::map<std::string, Values> runs = {}) const {
        Ladder row = *this;
        std::tie(row.timeout, row.scope, row.immediateFallback, row.timeouts) =
            std::tuple(seconds, serverScope, fallback, std::move(runs));
        return row;
    }
};
Ladder ladder(const char* name, void (*script)(ConnectionRig&), Lines actions, Lines failures, Lines logged = {}) {
    return {name, script, std::move(actions), std::move(failures), std::move(logged)};
}

const Ladder kRefusedFiveTimes =
    ladder("RefusedGlassesGoThroughFourRetriesAndFail", refused, times(5, kConnect), {kRefused}).with(3.0);  // unmarked
const std::vector<Ladder> kLadders = {
    // A connect runs beside the first state query; a transport that answers is kept as it is.
    ladder("DeniedProbeNeverStopsTheConnect", deniedProbe, {kConnect}, {},
           {"本地网络权限探测报告拒绝，宽松连接模式仍继续实际 adb connect: " + T}),
    ladder("ConfirmedPermissionSkipsTheProbe", confirmedPermission, {kConnect}, {},
           {"系统已确认本地网络可用，直接开始 adb connect: " + T}),
    ladder("DeadDeviceTransportIsResetBeforeTheConnect", listedButSilent, {kConnect, kDisconnect, kConnect}, {})
        .with(6.0, kShared, false, {{kDisconnect, {4.0}}, {kConnect, {6.0, 6.0}}}),  // min(4, 6)
    ladder("FreshConnect", freshConnect, {kConnect}, {}, {"$ {adb} connect " + T, "connected to " + T}),
    kRefusedFiveTimes,
    ladder("RetrySucceedsOnceTheNetworkSettles", networkSettles, times(3, kConnect), {},
           {"无线 ADB 自动重试成功: " + T}),
    ladder("AcceptedConnectWithoutTransportRetriesThenFails", acceptedWithoutTransport, times(5, kConnect),
           {"connected to " + T}),
    // The raw output, no marker.
    ladder("ImmediateSharedFallbackGivesUpAfterOneConnect", acceptedWithoutTransport, {kPrivateConnect},
           {"connected to " + T})
        .with(5.0, kPrivate, true),
    ladder("ImmediateFallbackAlsoOnANetworkFailure", timingOut, {kPrivateConnect}, {kTimedOut})
        .with(5.0, kPrivate, true),
    ladder("NoImmediateFallbackOnARefusal", refused, times(5, kPrivateConnect), {kRefused}).with(5.0, kPrivate, true),
    // The wait's own message, unmarked.
    ladder("OfflineAfterConnectWaitsForAuthorizationThenResetsOnce", offlineAfterConnect,
           {kConnect, kDisconnect, kConnect}, {"offline"}),
    // A time-out on the shared server while the glasses' port answers asks for its recovery.
    ladder("OfflineWaitThatThrowsTakesTheFailureExit", offlineThenHangingDisconnect, {kConnect, kDisconnect},
           {"ADB_SERVER_RECOVERY_REQUIRED:命令超时: {adb} disconnect " + T})
        .with(0.3, kShared, false, {{kDisconnect, {0.3}}}),
    ladder("AlreadyConnectedButSilentIsResetOnce", alreadyConnectedButSilent, {kConnect, kDisconnect, kConnect}, {})
        .with(5.0, kShared, false, {{kDisconnect, {4.0}}, {kConnect, {5.0, 5.0}}}),
    ladder("FailedTargetedResetContinuesWithTheRetries", alreadyConnectedThenRefused,
           Lines{kConnect, kDisconnect} + times(5, kConnect), {kRefused}),
    ladder("AuthenticationFailureWaitsForTheUserWithoutRetries", keyRefused, {kConnect},
           {"failed to authenticate to " + T}, {"等待眼镜端 ADB 授权超时: " + T}),
    ladder("AuthorizationGivenDuringTheWaitConnects", authorizedDuringTheWait, {kConnect}, {},
           {"眼镜端 ADB 授权已确认: " + T}),
    ladder("RetryEndsEarlyOnAKnownStateThatIsNoProgress", knownStateWithoutProgress, times(2, kConnect),
           {"error: protocol fault"}),
    ladder("SharedServerTimeOutWithReachableGlassesAsksForRecovery", hangingSharedServer, times(5, kConnect),
           {"ADB_SERVER_RECOVERY_REQUIRED:error: timed out"})
        .with(0.2, kShared, false, {{kConnect, {0.2, 0.2, 0.2, 0.2, 8.0}}}),
    ladder("DenialWithUnconfirmedPermissionAsksForLocalNetworkAccess", deniedAndTimingOut, times(5, kConnect),
           {"LOCAL_NETWORK_DENIED: " + kTimedOut}),
    // Nor the recovery marker: the port never answered.
    ladder("DenialWithConfirmedPermissionCarriesNoMarker", deniedButConfirmed, times(5, kConnect), {kTimedOut}),
    ladder("PrivateServerIsRestartedOnceWhenOnlyItIsBroken", repairedPrivateServer, times(5, kPrivateConnect) + kRepair,
           {}, {"投屏专用 16061 自动恢复成功: " + T})
        .with(3.0, kPrivate, false, {{kPrivateConnect, {3.0, 3.0, 3.0, 3.0, 8.0, 4.0}}}),  // the repair's: max(4, 3)
    // The private scope never carries the shared-server marker.
    ladder("FailedRepairReportsTheRepairAttempt", unrepairedPrivateServer, times(5, kPrivateConnect) + kRepair,
           {kNoRoute})
        .with(5.0, kPrivate),
    ladder("NoRepairWhenTheGlassesAreUnreachable", unreachableGlasses, times(5, kPrivateConnect), {kTimedOut})
        .with(5.0, kPrivate),
    ladder("MalformedConnectOutputsNeverCrash", malformedOutputs, times(5, kConnect), {std::string(200000, 'x')}),
};

class WirelessAdbConnectorTest : public ::testing::Test {
protected:
    std::string expanded(std::string line) const {
        if (auto at = line.find("{adb}"); at != std::string::npos) line.replace(at, 5, rig.adb.adbPath().string());
        return line;
    }
    // A failure as the table writes it: its kind as a prefix, then its text.
    static std::string shown(const WirelessConnectFailure& failure) {
        using Kind = WirelessConnectFailure::Kind;
        if (failure.kind == Kind::localNetworkDenied) return "LOCAL_NETWORK_DENIED: " + failure.text;
        if (failure.kind == Kind::sharedServerNeedsRecovery) return "ADB_SERVER_RECOVERY_REQUIRED:" + failure.text;
        return failure.text;
    }
    // Runs the ladder; the failures it reported.
    Lines connect(const Ladder& row, bool silent) {
        row.script(rig);
        rig.scriptTransport();
        Lines failures;
        bool connected = rig.connector.tryConnectWirelessAdb(
            kTargetIp, kTargetPort,
            {.timeout = row.timeout,
             .logging = silent ? Logging::silent : Logging::logged,
             .onFailure = [&](const WirelessConnectFailure& failure) { failures.push_back(shown(failure)); },
             .scope = row.scope,
             .preferImmediateSharedFallback = row.immediateFallback});
        EXPECT_EQ(connected, failures.empty());
        EXPECT_EQ(rig.connectedTarget.get(), connected ? std::optional<std::string>(T) : std::nullopt);
        return failures;
    }
    ConnectionRig rig{16061};
};

class WirelessAdbLadderTest : public WirelessAdbConnectorTest, public ::testing::WithParamInterface<Ladder> {};

TEST_P(WirelessAdbLadderTest, RunsItsCommandsAndReportsItsOutcome) {
    const Ladder& row = GetParam();
    Lines failures = connect(row, false);
    EXPECT_EQ(rig.actions(), row.actions);
    Lines expected;
    for (const auto& failure : row.failures) expected.push_back(expanded(failure));
    EXPECT_EQ(failures, expected);
    for (const auto& line : row.logged) EXPECT_TRUE(rig.logs.contains(expanded(line))) << line;
    for (const auto& invocation : rig.trace.invocations())
        EXPECT_EQ(invocation.scope, row.scope) << invocation.arguments;
    for (const auto& call : rig.network.calls()) EXPECT_EQ(call.ip + ":" + std::to_string(call.port), T);
    EXPECT_TRUE(rig.adb.unmatchedCalls().empty());
    for (const auto& [line, timeouts] : row.timeouts) EXPECT_EQ(rig.timeoutsOf(line), timeouts) << line;
}

// Silent, the same branch logs nothing and echoes no command, yet the caller hears the outcome.
TEST_P(WirelessAdbLadderTest, SilentlyRunsTheSameCommands) {
    const Ladder& row = GetParam();
    EXPECT_EQ(connect(row, true).size(), row.failures.size());
    EXPECT_EQ(rig.actions(), row.actions);
    EXPECT_TRUE(rig.logs.lines().empty());
    for (const auto& invocation : rig.trace.invocations()) EXPECT_FALSE(invocation.logCommand) << invocation.arguments;
}

INSTANTIATE_TEST_SUITE_P(Branches, WirelessAdbLadderTest, ::testing::ValuesIn(kLadders),
                         [](const auto& row) { return std::string(row.param.name); });

TEST_F(WirelessAdbConnectorTest, AnsweringTransportIsReusedAfterOneProbeAndOneQuietEcho) {
    EXPECT_TRUE(connect({"reuse", [](ConnectionRig& r) { r.glassesOnline(); }, {}, {}}, false).empty());
    ASSERT_EQ(rig.network.calls().size(), 1u);
    EXPECT_EQ(rig.network.calls()[0].timeout, 1.2);
    EXPECT_EQ(rig.timeoutsOf(kEcho), Values{1.2});
    // Only the connect beside the state query speaks; a reachable port is not worth a line.
    EXPECT_EQ(rig.logs.lines(),
              (Lines{"$ " + rig.adb.adbPath().string() + " connect " + T, "already connected to " + T}));
}

TEST_F(WirelessAdbConnectorTest, RetriesBackOffProbeAgainAndEndWithTheSlowFallback) {
    connect(kRefusedFiveTimes, false);
    std::vector<double> probes, ladderPauses;
    for (const auto& call : rig.network.calls()) probes.push_back(call.timeout);
    EXPECT_EQ(probes, (Values{1.2, 0.6, 0.6, 0.6, 0.6}));
    EXPECT_EQ(rig.timeoutsOf(kConnect), (Values{3.0, 3.0, 3.0, 3.0, 8.0}));  // the slow fallback: at least 8 s
    for (double s : rig.clock.sleeps())
        if (s != 0.08 && s != 0.25) ladderPauses.push_back(s);
    EXPECT_EQ(ladderPauses, (Values{0.4, 1.0, 2.0, 4.0}));
    // Between retries 1.5 s transport waits (min(2, max(1, 3/2))), after the first connect 0.25 s.
    EXPECT_EQ(std::ranges::count(rig.clock.sleeps(), 0.08), 4 + 4 * 19);
    EXPECT_EQ(rig.logs.lines().back(), "无线 ADB 多次连接失败: " + kRefused);
}

// The user needs time to find the prompt on the glasses: the wait lasts 8 s of the clock, in
// 0.25 s polls, and says so.
TEST_F(WirelessAdbConnectorTest, AnAuthenticationFailureGivesTheUserEightSeconds) {
    connect({"key refused", keyRefused, {}, {}}, false);
    const auto& lines = rig.logs.lines();
    auto announced = std::ranges::find(lines, "ADB 正在等待眼镜授权，保留 8 秒确认时间: " + T);
    ASSERT_NE(announced, lines.end());
    EXPECT_EQ(std::ranges::count(rig.clock.sleeps(), 0.25), 33);  // 8 s, then the poll that passes it
}

TEST_F(WirelessAdbConnectorTest, MissingToolsFailBeforeAnyCommand) {
    std::filesystem::remove(rig.adb.folder() / "scrcpy");  // needed for mirrors only
    std::filesystem::remove(rig.adb.adbPath());
    Lines failures = connect({"missing", [](ConnectionRig&) {}, {}, {}}, false);
    EXPECT_TRUE(rig.trace.invocations().empty());
    std::string message = "缺少工具文件: " + rig.adb.adbPath().string();
    EXPECT_EQ(rig.logs.lines(), Lines{"无线 ADB 重连失败: " + message});
    EXPECT_EQ(failures, Lines{message});
}

TEST_F(WirelessAdbConnectorTest, ConnectWifiAdbReturnsTheTargetOrExplainsTheFailure) {
    rig.adb.on({"connect", T}).reply(kNoRoute, 1);
    rig.scriptTransport();
    EXPECT_EQ(testing::errorOf([&] { rig.connector.connectWifiAdb(kTargetIp); }),
              formatAdbConnectError(kTargetIp, kNoRoute));  // its texts: WirelessAdbConnectTextTest
    EXPECT_TRUE(rig.runsOf(kEcho).empty());                 // never "device", so no echo was tried

    ConnectionRig other{16062};
    accepting(other.adb.on({"connect", T}));
    other.scriptTransport();
    EXPECT_EQ(other.connector.connectWifiAdb(kTargetIp), T);
    auto connect = other.runsOf(kConnect).at(0);
    EXPECT_EQ(connect.timeout, 20.0);
    EXPECT_TRUE(connect.logCommand);
    EXPECT_EQ(connect.scope, kShared);
    EXPECT_EQ(other.connectedTarget.get(), T);
}

TEST_F(WirelessAdbConnectorTest, ConnectWifiAdbAcceptsATargetThatCameOnlineAnyway) {
    rig.adb.on({"connect", T}).reply("error: closed", 1);
    rig.adb.on({"-s", T, "get-state"}).reply("error: device '127.0.0.2:5555' not found", 1).reply("device");
    rig.adb.on({"-s", T, "shell", "echo", "*"}).reply("__ORVAN_MIRROR_ADB_READY__");
    rig.scriptTransport();
    EXPECT_EQ(rig.connector.connectWifiAdb(kTargetIp), T);
    EXPECT_TRUE(rig.logs.contains("adb connect 超时，但目标已在线: " + T));
    EXPECT_EQ(rig.timeoutsOf(kEcho), Values{4.0});
    EXPECT_EQ(rig.connectedTarget.get(), T);
}

TEST_F(WirelessAdbConnectorTest, ConnectWifiAdbPassesOnALaunchError) {
    rig.runner.setCommandRunner([](const ProcessSpec& spec, std::chrono::duration<double>) -> FiniteRun {
        throw LaunchError(LaunchError::Reason::notFound, ENOENT, spec.executable);
    });
    EXPECT_THROW(rig.connector.connectWifiAdb(kTargetIp), LaunchError);
}

}  // namespace
}  // namespace orvan
