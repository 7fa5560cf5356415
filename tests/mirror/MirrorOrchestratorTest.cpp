// The start, stop and disconnect paths against the scripted adb answered in-process and a
// scripted scrcpy, on a virtual clock: which commands run in which order, what the maps hold afterwards, what is logged
// and which failures are retried.

#include <gtest/gtest.h>

#include <future>

#include "adb/DeviceDiscovery.h"
#include "foundation/MirrorError.h"
#include "mirror/MirrorOrchestrator.h"
#include "support/FakeWindowSystem.h"
#include "support/RegisteredWindows.h"
#include "support/ConnectionRig.h"
#include "support/ErrorOf.h"
#include "support/FakeScrcpy.h"

namespace orvan {
namespace {

using namespace std::chrono_literals;
using testing::ConnectionRig;
using testing::errorOf;
using testing::FakeScrcpyFolder;
using testing::kTarget;
namespace fakescrcpy = testing::fakescrcpy;

constexpr auto kShared = AdbServerScope::sharedDevelopment;
constexpr auto kPrivate = AdbServerScope::privateMirroring;
const std::string kFailureTail = "小助手已保留完整尾部输出，可在“查看日志”中检查。";
// The first start waits out its readiness time; later ones are ready.
const std::string kHangsOnce =
    "if [ \"$(wc -l < \"$here/runs\")\" -eq 1 ]; then " + fakescrcpy::hang + "; fi\n" + fakescrcpy::ready;

// A scrcpy that fails its first run with `firstFailure` (printed, exit 1) and is ready after.
std::string failingOnce(const std::string& firstFailure) {
    return "if [ \"$(wc -l < \"$here/runs\")\" -eq 1 ]; then echo '" + firstFailure + "'; exit 1; fi\n" +
           fakescrcpy::ready;
}

ConnectedAdbDevice wirelessDevice(const std::string& serial, std::optional<std::string> deviceId = std::nullopt) {
    return {serial, connection_kind::kWireless, serial.substr(0, serial.find(':')), {}, {}, deviceId, false, true};
}
ConnectedAdbDevice usbDevice(const std::string& serial) {
    return {serial, connection_kind::kUsb, {}, {}, {}, serial, true, false};
}

class MirrorOrchestratorTest : public ::testing::Test {
protected:
    explicit MirrorOrchestratorTest(const std::string& scrcpyBehaviour = fakescrcpy::ready) : scrcpy(scrcpyBehaviour) {}
    // The glasses' transport at 127.0.0.2:5555, online. Rules a test adds before this call win.
    void scriptGlasses() {
        rig.scriptTransport();
        rig.glassesOnline();
    }
    ~MirrorOrchestratorTest() override {
        launcher->stopProcessKeys(launcher->registeredProcessKeys());
        EXPECT_TRUE(testing::waitUntil([&] { return launcher->registry().launchedChildrenNotEnded().empty(); }));
    }

    bool logged(const std::string& line) const { return rig.logs.contains(line); }

    ConnectionRig rig{16061};
    FakeScrcpyFolder scrcpy;
    std::shared_ptr<ManualMainQueue> main = std::make_shared<ManualMainQueue>();
    std::shared_ptr<ScrcpyLauncher> launcher = ScrcpyLauncher::create(
        ScrcpyLauncherSettings{ToolLocation{rig.adb.folder(), rig.adb.adbPath(), scrcpy.path() / "scrcpy"},
                               16061,
                               rig.log,
                               &rig.clock,
                               std::make_shared<FakeWindowSystem>(),
                               [] { return FiniteRun{}; },  // no leftover windows
                               main,
                               {},
                               {}});
    DeviceDiscovery discovery{rig.runner, rig.tools};
    MirrorTargets targets;
    MirrorOrchestrator orchestrator{MirrorOrchestrator::Parts{rig.runner, rig.tools, rig.clock, discovery, rig.probe,
                                                              rig.readiness, rig.connector, rig.connectedTarget,
                                                              targets, *launcher}};
    const std::string t = kTarget;
};

// ---- the scan callback's start ------------------------------------------------------------------

TEST_F(MirrorOrchestratorTest, AVerifiedTargetIsMirroredAndRemembered) {
    scriptGlasses();
    int retries = 0;
    auto ip = orchestrator.startVerifiedWirelessMirror(
        wirelessDevice(t, "SN-1"), [&] { ++retries; }, nullptr, kPrivate);
    EXPECT_EQ(ip, "127.0.0.2");
    EXPECT_EQ(retries, 0);
    EXPECT_EQ(targets.preferredDeviceSerial(), t);
    EXPECT_EQ(rig.connectedTarget.get(), t);
    EXPECT_EQ(targets.mirrorTargetsBySource(), (std::map<std::string, std::string>{{t, t}}));
    EXPECT_EQ(testing::registeredIdentities(*launcher).at({t}), "device:sn-1");
    EXPECT_TRUE(orchestrator.isMirroring(wirelessDevice("127.0.0.9:5555", "SN-1")));  // same glasses, other route

    auto noIp = wirelessDevice("127.0.0.2:5555");
    noIp.ip.reset();
    EXPECT_EQ(orchestrator.startVerifiedWirelessMirror(noIp, nullptr, nullptr, kPrivate), "127.0.0.2");  // reused
    EXPECT_EQ(scrcpy.runs().size(), 1u);
}

TEST_F(MirrorOrchestratorTest, AVerifiedStartNeedsAWirelessTarget) {
    EXPECT_EQ(
        errorOf([&] { orchestrator.startVerifiedWirelessMirror(usbDevice("SERIAL1"), nullptr, nullptr, kShared); }),
        "扫码回调缺少有效的无线 ADB 目标。");
    EXPECT_TRUE(scrcpy.runs().empty());
    EXPECT_FALSE(targets.preferredDeviceSerial());
}

// ---- recovery of a broken transport ---------------------------------------------------------------

class MirrorRecoveryTest : public MirrorOrchestratorTest {
protected:
    MirrorRecoveryTest() : MirrorOrchestratorTest(failingOnce("WARN: Device disconnected")) {}
    const std::string firstFailure = "scrcpy 启动失败，退出码 1。 WARN: Device disconnected" + kFailureTail;
};

TEST_F(MirrorRecoveryTest, ATransportFailureOnALiveTargetIsRetriedOnceAfterAPause) {
    scriptGlasses();
    int retries = 0;
    orchestrator.startScrcpyWithWirelessTransportRecovery(
        t, false, std::nullopt, [&] { ++retries; }, nullptr, kShared);
    EXPECT_EQ(retries, 1);
    EXPECT_EQ(scrcpy.runs().size(), 2u);
    EXPECT_EQ(rig.clock.sleeps(), std::vector<double>{0.75});
    EXPECT_TRUE(launcher->isMirroring(t));
    EXPECT_TRUE(rig.actions().empty()) << "a live transport is not reconnected";
}

TEST_F(MirrorRecoveryTest, AnOfflineTargetIsReconnectedAloneBeforeTheSecondStart) {
    rig.adb.on({"disconnect", t}).reply("disconnected " + t).sets("state", "").sets("answers", "");
    rig.adb.on({"connect", t}).reply("connected to " + t).sets("state", "device").sets("answers", "yes");
    scriptGlasses();
    rig.adb.setVariable("state", "offline");
    orchestrator.startScrcpyWithWirelessTransportRecovery(t, false, std::nullopt, nullptr, nullptr, kShared);
    auto actions = rig.actions();
    ASSERT_GE(actions.size(), 2u);
    EXPECT_EQ(actions[0], "disconnect " + t);
    EXPECT_NE(std::find(actions.begin(), actions.end(), "connect " + t), actions.end());
    EXPECT_EQ(scrcpy.runs().size(), 2u);
}

// Failures that end the recovery without a second start: the glasses' state decides.
struct Unrecoverable {
    const char* name;
    void (*rules)(testing::FakeAdb&);  // ahead of the glasses' own
    const char* state;                 // the transport's state after the failure
    std::string target;
    std::string error;  // how the start's error begins (and more follows when `more`)
    bool more = false;
    friend void PrintTo(const Unrecoverable& row, std::ostream* out) { *out << row.name; }
};

class MirrorUnrecoverableTest : public MirrorRecoveryTest, public ::testing::WithParamInterface<Unrecoverable> {};

TEST_P(MirrorUnrecoverableTest, EndsAfterTheFirstStart) {
    GetParam().rules(rig.adb);
    scriptGlasses();
    rig.adb.setVariable("state", GetParam().state);
    auto error = errorOf([&] {
        orchestrator.startScrcpyWithWirelessTransportRecovery(GetParam().target, false, std::nullopt, nullptr, nullptr,
                                                              kShared);
    });
    const std::string expected = GetParam().error == "first" ? firstFailure : GetParam().error;
    EXPECT_TRUE(error.starts_with(expected)) << error;
    EXPECT_EQ(error.size() > expected.size(), GetParam().more) << error;
    EXPECT_EQ(scrcpy.runs().size(), 1u);
}

const std::string T = testing::kTarget;
void reconnectFails(testing::FakeAdb& adb) {
    adb.on({"disconnect", T}).reply("error: no such device '" + T + "'", 1);
    adb.on({"connect", T}).reply("failed to connect to '" + T + "': Connection refused", 1);
}
// "device" when the failure is looked at, gone when the second start would run.
void goneAfterTheFailure(testing::FakeAdb& adb) {
    adb.on({"-s", T, "get-state"}).when("state", "device").reply("device").sets("state", "");
}
void noRules(testing::FakeAdb&) {}
INSTANTIATE_TEST_SUITE_P(States, MirrorUnrecoverableTest,
                         ::testing::Values(Unrecoverable{"reconnectFails", reconnectFails, "", T,
                                                         "scrcpy 启动失败，当前眼镜定向重连失败。 ", true},
                                           Unrecoverable{"staysUnauthorized", noRules, "unauthorized", T, "first"},
                                           Unrecoverable{"notBackInStateDevice", goneAfterTheFailure, "device", T,
                                                         "当前眼镜 ADB 未恢复到 device 状态: " + T},
                                           Unrecoverable{"noPortInTheTarget", noRules, "device", "SERIAL1", "first"}),
                         [](const auto& row) { return std::string(row.param.name); });

TEST_F(MirrorRecoveryTest, AReplacedSessionStopsTheRecovery) {
    scriptGlasses();
    bool current = true;
    int retries = 0;
    auto error = errorOf([&] {
        orchestrator.startScrcpyWithWirelessTransportRecovery(
            t, false, std::nullopt,
            [&] {
                ++retries;
                current = false;
            },
            [&] { return current; }, kShared);
    });
    EXPECT_EQ(error, "扫码会话已被新二维码替换，已取消旧投屏任务。");
    EXPECT_EQ(retries, 1);
    EXPECT_EQ(scrcpy.runs().size(), 1u);
}

// Which first failures are retried: a broken transport (scrcpy's words for it, or a start that
// never got ready), never another cause or a window the user closed.
struct FirstFailure {
    const char* name;
    std::string scrcpy;
    bool hangsOnce;  // the first start waits out its readiness time on the virtual clock
    bool retried;
    std::string error;
    friend void PrintTo(const FirstFailure& row, std::ostream* out) { *out << row.name; }
};

class MirrorFirstFailureTest : public MirrorOrchestratorTest, public ::testing::WithParamInterface<FirstFailure> {
protected:
    MirrorFirstFailureTest() : MirrorOrchestratorTest(GetParam().scrcpy) {}
};

TEST_P(MirrorFirstFailureTest, OnlyATransportFailureIsRetried) {
    scriptGlasses();
    const std::string timedOut = "scrcpy 等待就绪信号超时: " + t + "，output=waiting for video";
    auto clockDriver = std::async(std::launch::async, [&] {
        auto limit = std::chrono::steady_clock::now() + 20s;
        while (GetParam().hangsOnce && !logged(timedOut) && std::chrono::steady_clock::now() < limit) {
            rig.clock.advance(Seconds(1));
            std::this_thread::sleep_for(20ms);
        }
    });
    int retries = 0;
    std::string error;
    try {
        orchestrator.startScrcpyWithWirelessTransportRecovery(
            t, false, std::nullopt, [&] { ++retries; }, nullptr, kShared);
    } catch (const MirrorError& failure) {
        error = failure.isNormalScrcpyClosure() ? "closed" : failure.what();
    }
    clockDriver.get();
    EXPECT_EQ(retries, GetParam().retried ? 1 : 0);
    EXPECT_EQ(scrcpy.runs().size(), GetParam().retried ? 2u : 1u);
    EXPECT_EQ(error, GetParam().error);
}

INSTANTIATE_TEST_SUITE_P(
    Kinds, MirrorFirstFailureTest,
    ::testing::Values(FirstFailure{"transportLost", failingOnce("WARN: Device disconnected"), false, true, ""},
                      // The generic end of every failed start names no cause: no retry.
                      FirstFailure{"serverConnectionFailedAlone", failingOnce("ERROR: Server connection failed"), false,
                                   false, "scrcpy 启动失败，退出码 1。 ERROR: Server connection failed" + kFailureTail},
                      FirstFailure{"versionMismatch",
                                   failingOnce("[server] ERROR: The server version (1.25) does not match the client "
                                               "(3.3.4)"),
                                   false, false,
                                   "scrcpy 启动失败：scrcpy-server 与 scrcpy 的版本不一致（scrcpy-server 1.25，scrcpy "
                                   "3.3.4）。请使用与 scrcpy 同一发行包中的 scrcpy-server，不要单独设置 "
                                   "SCRCPY_SERVER_PATH。"},
                      FirstFailure{"startTimeOut", kHangsOnce, true, true, ""},
                      FirstFailure{"otherCause", failingOnce("ERROR: Could not find any display"), false, false,
                                   "scrcpy 启动失败，退出码 1。 ERROR: Could not find any display" + kFailureTail},
                      FirstFailure{"closedByTheUser", "echo 'device offline soon'; exit 0", false, false, "closed"}),
    [](const auto& row) { return std::string(row.param.name); });

// ---- wireless starts from the device list ---------------------------------------------------------

class MirrorFromDeviceListTest : public MirrorOrchestratorTest {
protected:
    // Two USB pairs; the first answers as 127.0.0.2 over Wi-Fi once switched to tcpip.
    void scriptTwoUsbPairs() {
        rig.adb.on({"devices"}).reply("List of devices attached\nSER1\tdevice\nSER2\tdevice\n");
        for (const char* serial : {"SER1", "SER2"}) {
            std::string s = serial;
            rig.adb.on({"-s", s, "shell", "getprop", "ro.product.model"}).reply("Tervo3");
            rig.adb.on({"-s", s, "shell", "getprop", "ro.serialno"}).reply(s);
            rig.adb.on({"-s", s, "shell", "cmd", "wifi", "status"})
                .reply("Wifi is connected to \"Office\"\nSSID: \"Office\",");
            rig.adb.on({"-s", s, "tcpip", "5555"}).reply("restarting in TCP mode port: 5555");
        }
        rig.adb.on({"-s", "SER1", "shell", "ip", "addr", "show", "wlan0"})
            .reply("3: wlan0: <UP>\n    inet 127.0.0.2/24 brd 127.0.0.255 scope global wlan0\n");
        rig.adb.on({"-s", "SER2", "shell", "ip", "addr", "show", "wlan0"})
            .reply("3: wlan0: <UP>\n    inet 127.0.0.3/24 brd 127.0.0.255 scope global wlan0\n");
        rig.adb.on({"connect", "127.0.0.2:5555"}).reply("connected to 127.0.0.2:5555");
        rig.adb.on({"connect", "127.0.0.3:5555"}).reply("connected to 127.0.0.3:5555");
        rig.adb.on({"-s", "127.0.0.3:5555", "get-state"}).reply("device");
        rig.adb.on({"-s", "127.0.0.3:5555", "shell", "echo", "*"}).reply(kAdbReadyMarker);
        scriptGlasses();
    }
};

TEST_F(MirrorFromDeviceListTest, AUsbPairIsSwitchedToWirelessAndMapped) {
    scriptTwoUsbPairs();
    auto target = orchestrator.startWirelessMirror();
    EXPECT_EQ(target, t);
    EXPECT_EQ(targets.mirrorTargetsBySource(), (std::map<std::string, std::string>{{"SER1", t}}));
    EXPECT_EQ(targets.preferredDeviceSerial(), "SER1");
    auto actions = rig.actions();
    auto tcpip = std::find(actions.begin(), actions.end(), "-s SER1 tcpip 5555");
    ASSERT_NE(tcpip, actions.end());
    EXPECT_EQ(*(tcpip + 1), "connect 127.0.0.2:5555");
    EXPECT_NE(std::find(rig.clock.sleeps().begin(), rig.clock.sleeps().end(), 1.0), rig.clock.sleeps().end());
    EXPECT_EQ(scrcpy.arguments(), "-s " + t);
    EXPECT_EQ(testing::registeredIdentities(*launcher).at({t}), "device:ser1");
}

TEST_F(MirrorFromDeviceListTest, ThePreferredDeviceWinsOverTheFirst) {
    scriptTwoUsbPairs();
    targets.setPreferredDeviceSerial("SER2");
    EXPECT_EQ(orchestrator.startWirelessGlassShellMirror(), "127.0.0.3:5555");
    EXPECT_EQ(targets.mirrorTargetsBySource(), (std::map<std::string, std::string>{{"SER2", "127.0.0.3:5555"}}));
    EXPECT_TRUE(launcher->isAnyMirroring("127.0.0.3:5555"));
    EXPECT_FALSE(launcher->isMirroring("127.0.0.3:5555"));  // the glasses-shell window only
}

TEST_F(MirrorFromDeviceListTest, NoDeviceAttachedIsAClearError) {
    rig.adb.on({"devices"}).reply("List of devices attached\n\n");
    EXPECT_EQ(errorOf([&] { orchestrator.startWirelessMirror(); }), "未检测到 ADB 设备，请先连接 Tervo3。");
}

TEST_F(MirrorFromDeviceListTest, AnAnsweringWirelessPairIsMirroredWithoutTcpip) {
    rig.adb.on({"devices"}).reply("List of devices attached\n" + t + "\tdevice\n");
    scriptGlasses();
    auto target = orchestrator.startWirelessMirror(wirelessDevice(t));
    EXPECT_EQ(target, t);
    EXPECT_EQ(rig.connectedTarget.get(), t);
    EXPECT_EQ(targets.mirrorTargetsBySource(), (std::map<std::string, std::string>{{t, t}}));
    for (const auto& line : rig.trace.lines()) EXPECT_EQ(line.find("tcpip"), std::string::npos) << line;
}

TEST_F(MirrorFromDeviceListTest, AStaleWirelessPairWithoutItsCableNamesItsOldAddress) {
    rig.adb.on({"devices"}).reply("List of devices attached\n" + t + "\tdevice\n");
    // The transport answers the discovery's check, then the glasses leave the network.
    rig.adb.on({"-s", t, "shell", "echo", "*"}).reply(kAdbReadyMarker).reply("error: closed", 1);
    rig.adb.on({"disconnect", t}).reply("disconnected " + t);
    scriptGlasses();
    auto error = errorOf([&] { orchestrator.startWirelessMirror(wirelessDevice(t)); });
    EXPECT_EQ(error, "该眼镜原有的无线 ADB 连接已失效（" + t +
                         "）。请保留 USB 连接并点击“检测设备”，小助手会读取眼镜当前 IP 后重新连接。"
                         " 原地址：127.0.0.2。");
    EXPECT_EQ(rig.runsOf("disconnect " + t).at(0).timeout, 4.0);
    EXPECT_TRUE(scrcpy.runs().empty());
}

TEST_F(MirrorFromDeviceListTest, AStaleWirelessPairWithItsCableIsReadAgainOverUsb) {
    const std::string old = "127.0.0.4:5555";
    rig.adb.on({"devices"}).reply("List of devices attached\nSER1\tdevice\n" + old + "\tdevice\n");
    rig.adb.on({"-s", old, "get-state"}).reply("device");
    rig.adb.on({"-s", old, "shell", "echo", "*"}).reply(kAdbReadyMarker).reply("error: closed", 1);
    rig.adb.on({"-s", old, "shell", "getprop", "ro.serialno"}).reply("SER1");
    rig.adb.on({"disconnect", old}).reply("disconnected " + old);
    scriptTwoUsbPairs();
    targets.setMirrorTarget(old, old);

    auto target = orchestrator.startWirelessMirror(wirelessDevice(old, "SER1"));
    EXPECT_EQ(target, t);
    EXPECT_EQ(targets.mirrorTargetsBySource(), (std::map<std::string, std::string>{{"SER1", t}}));
    EXPECT_EQ(testing::registeredIdentities(*launcher).at({t}), "device:ser1");
}

TEST_F(MirrorFromDeviceListTest, AUsbPairWhoseWirelessSideNeverAnswersIsDisconnectedAgain) {
    // The new transport answers the connect's check, then goes quiet.
    rig.adb.on({"-s", t, "shell", "echo", "*"}).reply(kAdbReadyMarker).reply("error: closed", 1);
    rig.adb.on({"disconnect", t}).reply("disconnected " + t);
    scriptTwoUsbPairs();
    auto error = errorOf([&] { orchestrator.startWirelessMirror(usbDevice("SER1")); });
    EXPECT_EQ(error,
              "已读取眼镜当前地址 127.0.0.2，但无线 ADB 未进入可用状态。请确认电脑与眼镜所在网络允许设备互访后重试。");
    EXPECT_EQ(rig.actions().back(), "disconnect " + t);
    EXPECT_TRUE(targets.mirrorTargetsBySource().empty());
}

TEST_F(MirrorFromDeviceListTest, ARecentDeviceIsReconnectedByItsAddress) {
    rig.adb.on({"connect", "127.0.0.2:5555"}).reply("connected to 127.0.0.2:5555");
    scriptGlasses();
    ConnectedAdbDevice recent{"SER9", connection_kind::kRecent, "127.0.0.2", {}, {}, "SER9", false, false};
    EXPECT_EQ(orchestrator.startWirelessMirror(recent), t);
    EXPECT_EQ(targets.mirrorTargetsBySource(), (std::map<std::string, std::string>{{"SER9", t}}));
    EXPECT_EQ(targets.preferredDeviceSerial(), "SER9");
    EXPECT_EQ(testing::registeredIdentities(*launcher).at({t}), "device:ser9");
    for (const auto& line : rig.trace.lines()) EXPECT_NE(line, "devices");  // no device listing
}

TEST_F(MirrorFromDeviceListTest, ARecentRecordIsReadFromUsb) {
    scriptTwoUsbPairs();
    auto record = orchestrator.recentDeviceFromUsb("SER2");
    EXPECT_EQ(record.serial, "SER2");
    EXPECT_TRUE(record.isRecent());
    EXPECT_EQ(record.ip, "127.0.0.3");
    EXPECT_EQ(record.wifiName, "Office");
    EXPECT_EQ(record.model, "Tervo3");
    EXPECT_EQ(record.deviceId, "SER2");
    EXPECT_FALSE(record.hasUsb || record.hasWireless);
}

// ---- stops and disconnects --------------------------------------------------------------------

TEST_F(MirrorOrchestratorTest, StoppingOneDeviceClosesItsWindowsAndForgetsItsTarget) {
    orchestrator.startVerifiedWirelessMirror(wirelessDevice(t, "SN-1"), nullptr, nullptr, kShared);
    launcher->startScrcpy("127.0.0.5:5555", true, std::string("device:other"), nullptr, kShared);
    targets.setMirrorTarget("SER-USB", t);
    std::vector<std::string> stops;  // what a mirror coming back by itself is told
    orchestrator.setOnStop([&](const std::optional<std::string>& identity, const std::string& reason) {
        stops.push_back(identity.value_or("all") + " " + reason);
    });

    orchestrator.stopMirror(usbDevice("SER-USB"));  // the same glasses seen over USB, through the map
    EXPECT_FALSE(launcher->isAnyMirroring(t));
    EXPECT_TRUE(launcher->isAnyMirroring("127.0.0.5:5555"));
    EXPECT_FALSE(targets.mirrorTarget("SER-USB"));
    EXPECT_FALSE(rig.connectedTarget.get());

    orchestrator.stopMirror();
    EXPECT_TRUE(launcher->registry().entries().empty());
    EXPECT_TRUE(targets.mirrorTargetsBySource().empty());
    EXPECT_TRUE(rig.actions().empty()) << "stopping leaves adb connections alone";
    EXPECT_EQ(stops, (std::vector<std::string>{"device:ser-usb 用户已停止投屏", "all 用户已停止投屏"}));
}

TEST_F(MirrorOrchestratorTest, DisconnectingADeviceDisconnectsEachOfItsTargetsOnce) {
    rig.adb.on({"disconnect", "*"}).reply("disconnected");
    scriptGlasses();
    auto device = wirelessDevice("127.0.0.7:5555");
    targets.setMirrorTarget(device.serial, "127.0.0.6:5555");
    rig.connectedTarget.set("127.0.0.6:5555");
    std::vector<std::string> reasons;
    orchestrator.setOnStop([&](const auto&, const std::string& reason) { reasons.push_back(reason); });
    orchestrator.disconnect(device);
    ASSERT_FALSE(reasons.empty());
    EXPECT_EQ(reasons.front(), "已断开眼镜连接");  // told first: the stop that follows finds it ended
    EXPECT_EQ(rig.actions(), (std::vector<std::string>{"disconnect 127.0.0.6:5555", "disconnect 127.0.0.7:5555"}));
    for (const auto& invocation : rig.trace.invocations()) {
        EXPECT_EQ(invocation.timeout, 8.0);
        EXPECT_TRUE(invocation.logCommand);
    }
    EXPECT_FALSE(rig.connectedTarget.get());
}

TEST_F(MirrorOrchestratorTest, AUsbOnlyDeviceCannotBeDisconnectedButItsWindowsClose) {
    launcher->startScrcpy("SER-USB", false, std::nullopt, nullptr, kShared);
    EXPECT_EQ(errorOf([&] { orchestrator.disconnect(usbDevice("SER-USB")); }), "USB ADB 连接需要拔掉数据线才能断开。");
    EXPECT_FALSE(launcher->isMirroring("SER-USB"));
    EXPECT_TRUE(rig.actions().empty());
}

TEST_F(MirrorOrchestratorTest, DisconnectingEverythingStopsFirst) {
    rig.adb.on({"disconnect"}).reply("disconnected everything");
    launcher->startScrcpy(t, false, std::nullopt, nullptr, kShared);
    orchestrator.disconnect(std::nullopt);
    EXPECT_TRUE(launcher->registry().entries().empty());
    EXPECT_EQ(rig.actions(), std::vector<std::string>{"disconnect"});
}

TEST_F(MirrorOrchestratorTest, DisconnectingFromBothServersIgnoresFailures) {
    rig.adb.on({"-P", "16061", "disconnect", "*"}).reply("error: cannot connect to daemon", 1);
    rig.adb.on({"disconnect", "*"}).reply("disconnected");
    rig.connectedTarget.set("127.0.0.8:5555");
    orchestrator.disconnectWirelessAdb("127.0.0.8");
    EXPECT_EQ(rig.actions(),
              (std::vector<std::string>{"-P 16061 disconnect 127.0.0.8:5555", "disconnect 127.0.0.8:5555"}));
    EXPECT_FALSE(rig.connectedTarget.get());
}

}  // namespace
}  // namespace orvan
