#include <gtest/gtest.h>

#include <mutex>

#include "foundation/MirrorError.h"
#include "pairing/ScanDisableProcessor.h"
#include "pairing/ScanFailureText.h"
#include "pairing/ScanMirrorTask.h"

namespace orvan {
namespace {

constexpr const char* kSession = "5A1C0E3E-0000-4000-8000-00000000000A";
constexpr const char* kSecond = "\n如果使用生活版眼镜，请在手机 Orvan AI App 的“开发者”页面确认“眼镜 ADB 调试”已开启。";

struct FailureCase {
    const char* name;
    std::string failure;
    std::string expected;
};

class FailureText : public ::testing::TestWithParam<FailureCase> {};

TEST_P(FailureText, PicksTheFirstMatchingRowIgnoringCase) {
    EXPECT_EQ(scanConnectionFailureText(GetParam().failure, "10.0.0.5", "Lab", std::nullopt), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, FailureText,
    ::testing::Values(
        FailureCase{
            "recoveryBeforeRefused", "adb_server_recovery_required: connection refused",
            "眼镜 10.0.0.5 的 5555 端口可以访问，但共享 ADB 后台服务异常。小助手不会重启共享 ADB，以免中断 Android "
            "Studio 或其他设备；请查看日志确认服务来源。"},
        FailureCase{"localNetwork", "LOCAL_NETWORK_DENIED: x",
                    "OrvanMirror 尚未获得系统本地网络访问权限。点击下方按钮请求授权并打开设置；若仍没有 "
                    "OrvanMirror，请完全退出并重新打开小助手后再试。"},
        FailureCase{"noRoute", "connect: No route to host; connection refused",
                    "电脑（未知）无法访问眼镜（10.0.0.5）。请确认电脑与 Lab 允许互访；若终端可以访问 5555 "
                    "端口，请查看日志确认共享 ADB 服务和目标 transport 状态。"},
        FailureCase{"refusedInCapitals", "CONNECTION REFUSED, unauthorized",
                    std::string("眼镜 10.0.0.5 拒绝 ADB 连接，请确认无线 ADB 端口已开启后重试。") + kSecond},
        FailureCase{
            "authBeforeUnauthorized", "failed to authenticate: unauthorized",
            std::string("电脑已经找到眼镜 10.0.0.5，但这台眼镜尚未授权当前电脑进行 ADB 调试。请在眼镜端确认 ADB "
                        "授权提示；若系统没有显示提示，需要先通过 USB 完成一次电脑授权。") +
                kSecond},
        FailureCase{
            "unauthorizedBeforeOffline", "device unauthorized (offline)",
            std::string("眼镜尚未授权该电脑进行 ADB 调试。请在眼镜端确认授权提示；若系统没有显示提示，需要先通过 "
                        "USB 完成一次电脑授权。") +
                kSecond},
        FailureCase{"offline", "device offline",
                    std::string("眼镜的无线 ADB 当前离线，请重新扫码；若另一台电脑刚连接过这副眼镜，请先停止其 ADB "
                                "或投屏连接后再试。") +
                        kSecond},
        FailureCase{"other", "", "无法连接眼镜 10.0.0.5。请确认电脑与 Lab 可以互相访问，并查看日志。"}),
    [](const auto& testCase) { return std::string(testCase.param.name); });

// Scripted answers; each call is recorded as one short line.
struct ScriptedEngine final : ScanConnectionEngine {
    std::mutex mutex;
    std::vector<std::string> calls;
    AdbServerScope preferred = AdbServerScope::privateMirroring;
    std::set<std::pair<AdbServerScope, bool>> responsive;  // (scope, fastReuse)
    std::map<AdbServerScope, bool> connects;
    std::string connectFailure = "failed to connect to '10.0.0.5:5555': Connection refused";
    std::function<void()> startMirror = [] {};
    std::function<void()> onRecoveryProbe = [] {};

    void record(std::string call) {
        std::lock_guard l(mutex);
        calls.push_back(std::move(call));
    }
    static const char* name(AdbServerScope s) { return s == AdbServerScope::privateMirroring ? "private" : "shared"; }
    AdbServerScope preferredScanAdbServerScope() override { return preferred; }
    void suppressPrivateWirelessAdbTemporarily(const std::string& reason) override { record("suppress " + reason); }
    bool isAdbTargetResponsive(const std::string&, double timeout, AdbServerScope scope) override {
        record(std::string("probe ") + name(scope) + " " + std::to_string(timeout).substr(0, 3));
        if (timeout == 1.0) onRecoveryProbe();
        return responsive.contains({scope, timeout < 1.0});
    }
    std::optional<std::string> adbTargetState(const std::string&, AdbServerScope) override { return "device"; }
    bool refreshWirelessAdbTargetOnce(const std::string&, int, AdbServerScope) override {
        record("refresh");
        return false;
    }
    bool tryConnectWirelessAdb(const std::string&, int, double timeout, bool, const FailureHandler& onFailure,
                               AdbServerScope scope, bool immediate) override {
        record(std::string("connect ") + name(scope) + " " + std::to_string(timeout).substr(0, 3) +
               (immediate ? " immediate" : ""));
        if (connects[scope]) return true;
        onFailure(connectFailure);
        return false;
    }
    void startVerifiedWirelessMirror(const ConnectedAdbDevice&, const std::function<void()>&,
                                     const std::function<bool()>&, AdbServerScope scope) override {
        record(std::string("mirror ") + name(scope));
        startMirror();
    }
    void syncWirelessTargetToSharedAdb(const std::string&, int, AdbServerScope) override { record("sync"); }
    AdbDevices detectAdbDevices(bool) override { return {}; }
    void stopMirror(const ConnectedAdbDevice& device) override {
        record("stop " + device.serial);
        if (!stopError.empty()) throw MirrorError::message(stopError);
    }
    void disconnectWirelessAdb(const std::string& ip, int port) override {
        record("disconnect " + ip + ":" + std::to_string(port));
    }
    bool wirelessPortAnswers(const std::string&, int, double timeout) override {
        record("port check " + std::to_string(timeout).substr(0, 3));
        return portStillOpen;
    }
    std::string stopError;
    bool portStillOpen = false;
};

struct TaskRig {
    ManualMainQueue main;
    FakeClock clock;
    ScriptedEngine engine;
    std::vector<std::string> lines;
    std::vector<std::string> statuses;
    std::mutex mutex;
    ScanSessionCoordinator coordinator{main, ScanSessionHooks{.onLog = [this](const std::string& l) { log(l); }}};
    std::shared_ptr<ScanMirrorTask> task = std::make_shared<ScanMirrorTask>(
        engine, coordinator, main, clock,
        ScanTaskHooks{.onLog = [this](const std::string& l) { log(l); },
                      .updateStatus = [this](const std::string& t, bool, bool) { statuses.push_back(t); }});
    ScanMirrorRequest request{
        .device = wirelessTargetDevice("10.0.0.5:5555", "10.0.0.5"),
        .callbackDevice = {.ip = "10.0.0.5", .adbPort = 5555, .adbEnabled = true, .tcpPortOpen = true},
        .target = "10.0.0.5:5555",
        .sessionId = kSession,
        .configuredWifiName = "Lab",
        .callbackHost = "10.0.0.1",
        .callbackKey = std::string(kSession) + "|10.0.0.5:5555"};

    TaskRig() {
        coordinator.sessionChanged("", kSession);
        coordinator.book().admitReady(kSession, *request.callbackKey, false);
    }
    void log(const std::string& line) {
        std::lock_guard l(mutex);
        lines.push_back(line);
    }
    void run() {
        task->run(request);
        main.runPending();
    }
    bool logged(const std::string& line) const { return std::find(lines.begin(), lines.end(), line) != lines.end(); }
    std::pair<bool, std::string> ack() {
        auto state = coordinator.book().ackState(*request.callbackKey);
        return {state.connected, state.mirrorStatus};
    }
};

TEST(ScanMirrorTask, ReusesAnOnlineSharedTransportWithoutConnecting) {
    TaskRig rig;
    rig.engine.responsive = {{AdbServerScope::sharedDevelopment, true}};
    rig.run();
    EXPECT_EQ(rig.engine.calls, (std::vector<std::string>{"probe shared 0.8", "mirror shared", "sync"}));
    EXPECT_TRUE(rig.logged("扫码冷启动快速唤醒：复用共享 5037 已在线 transport: 10.0.0.5:5555"));
    EXPECT_EQ(rig.ack(), std::pair(true, std::string("RUNNING")));
    EXPECT_TRUE(rig.logged("扫码投屏已启动: 10.0.0.5:5555"));
}

TEST(ScanMirrorTask, FallsBackFromPrivateToSharedWithoutRestarting) {
    TaskRig rig;
    rig.engine.connects[AdbServerScope::sharedDevelopment] = true;
    rig.run();
    EXPECT_EQ(rig.engine.calls,
              (std::vector<std::string>{"probe shared 0.8", "probe private 0.8", "connect private 4.0 immediate",
                                        "suppress 当前扫码未形成有效 transport", "connect shared 4.0", "mirror shared",
                                        "sync"}));
    EXPECT_TRUE(rig.logged("投屏专用 15037 未建立连接，本次扫码无损回退共享 5037: 10.0.0.5:5555"));
    EXPECT_EQ(rig.ack(), std::pair(true, std::string("RUNNING")));
}

// Nothing answers: four recovery waits of the asked lengths, one refresh after the third, then
// the refused text; the key is released for a rescan and the glasses read FAILED.
TEST(ScanMirrorTask, LateRecoveryThenFailureTextAndFailedAck) {
    TaskRig rig;
    rig.engine.preferred = AdbServerScope::sharedDevelopment;
    rig.run();
    EXPECT_EQ(rig.clock.sleeps(), (std::vector<double>{1.0, 2.0, 4.0, 8.0}));
    EXPECT_EQ(std::count(rig.engine.calls.begin(), rig.engine.calls.end(), "refresh"), 1);
    EXPECT_EQ(rig.engine.calls[rig.engine.calls.size() - 2], "refresh");
    const std::string text = std::string("眼镜 10.0.0.5 拒绝 ADB 连接，请确认无线 ADB 端口已开启后重试。") + kSecond;
    EXPECT_TRUE(rig.logged("扫码投屏启动失败：" + text));
    EXPECT_EQ(rig.statuses.back(), text);
    EXPECT_EQ(rig.ack(), std::pair(false, std::string("FAILED")));
    EXPECT_TRUE(rig.logged("已释放扫码投屏会话占位: key=" + *rig.request.callbackKey +
                           ", reason=本轮投屏启动失败，允许重新扫描当前二维码。"));
}

TEST(ScanMirrorTask, NewCodeDuringRecoveryStopsTheTaskAtItsNextCheck) {
    TaskRig rig;
    rig.engine.preferred = AdbServerScope::sharedDevelopment;
    rig.engine.onRecoveryProbe = [&] { rig.coordinator.sessionChanged(kSession, "NEW"); };
    rig.run();
    EXPECT_EQ(rig.clock.sleeps(), (std::vector<double>{1.0, 2.0}));
    EXPECT_TRUE(rig.logged("延迟自动恢复已取消：扫码 session 已变化，target=10.0.0.5:5555"));
    EXPECT_TRUE(rig.logged(std::string("扫码旧会话任务已停止: sessionId=") + kSession));
    EXPECT_EQ(rig.engine.calls.back(), "probe shared 1.0");
}

TEST(ScanMirrorTask, WindowClosedByUserForgetsTheKey) {
    TaskRig rig;
    rig.engine.responsive = {{AdbServerScope::sharedDevelopment, true}};
    rig.engine.startMirror = [] { throw MirrorError::scrcpyClosedAfterReady(); };
    rig.run();
    EXPECT_TRUE(rig.logged("投屏窗口已正常关闭: target=10.0.0.5:5555，可重新扫码启动。"));
    EXPECT_EQ(rig.statuses.back(), "投屏已结束，可重新扫码启动。");
    EXPECT_EQ(rig.ack(), std::pair(false, std::string("STARTING")));  // fresh again
    EXPECT_TRUE(rig.coordinator.book().admitReady(kSession, *rig.request.callbackKey, false).process);
}

struct StatusPage final : WirelessAdbQrPage {
    void configureEnableQrMode() override {}
    void configureDisableQrMode(const std::string&, const std::string&, const std::string&,
                                const std::string&) override {}
    void showQrImage(const std::optional<QrModuleBitmap>&) override {}
    void showStatusState(const std::string& title, const std::string& detail, bool) override {
        states.push_back(title + "/" + detail);
    }
    void showFailureState(const std::string&, FailureAuthorizationAction, bool) override {}
    void showWaitingState() override { states.push_back("waiting"); }
    void showWifiPasswordState(const std::string&) override {}
    std::vector<std::string> states;
};

struct DisableRig {
    ManualMainQueue main;
    StatusPage page;
    ScriptedEngine engine;
    std::vector<std::string> lines;
    std::map<std::string, ConnectedAdbDevice> mirrors;
    std::shared_ptr<WirelessAdbQrController> controller =
        std::make_shared<WirelessAdbQrController>(main, page, WirelessAdbQrHooks{});
    std::shared_ptr<ScanDisableProcessor> processor = std::make_shared<ScanDisableProcessor>(
        engine, controller, main,
        ScanDisableHooks{.onLog = [this](const std::string& l) { lines.push_back(l); },
                         .setMainStatus = {},
                         .activeMirrorDevices = [this] { return mirrors; },
                         .removeActiveMirrorDevice = [this](const std::string& key) { mirrors.erase(key); },
                         .refreshDeviceTabs = {},
                         .refreshRunningMirrors = {}});
    WirelessAdbCallback report(const std::string& status = "DISABLED") {
        return {.type = "ORVAN_WIRELESS_ADB_STATUS",
                .version = 1,
                .action = "DISABLE",
                .sessionId = controller->disableSessionId(),
                .status = status,
                .device = WirelessAdbCallbackDevice{.ip = "10.0.0.5", .adbPort = 5555}};
    }
    // Processes the report and runs the main queue until a line starting with `prefix` is logged.
    void process(const WirelessAdbCallback& callback, const std::string& prefix) {
        processor->processDisableWirelessAdbCallback(callback);
        ASSERT_TRUE(main.runUntil([&] { return logged(prefix); }, Seconds(20))) << prefix;
        main.runPending();
    }
    bool logged(const std::string& prefix) const {
        return std::any_of(lines.begin(), lines.end(), [&](const auto& l) { return l.starts_with(prefix); });
    }
};

TEST(ScanDisableProcessor, FailureReportsNameTheirReason) {
    for (auto [message, code, detail] : {std::tuple<const char*, const char*, const char*>{"关不掉", "E1", "关不掉"},
                                         {nullptr, "E1", "E1"},
                                         {nullptr, nullptr, "眼镜返回 FAILED"}}) {
        DisableRig rig;
        auto report = rig.report("FAILED");
        if (message) report.message = message;
        if (code) report.errorCode = code;
        rig.process(report, "关闭无线 ADB 失败：");
        EXPECT_EQ(rig.page.states.back(), std::string("关闭无线 ADB 失败/") + detail + "，可重新扫码重试。");
        EXPECT_TRUE(rig.engine.calls.empty());
    }
}

// A failed stop still disconnects, and its error is the one reported.
TEST(ScanDisableProcessor, StopFailureStillDisconnectsAndReportsFirstError) {
    DisableRig rig;
    rig.engine.stopError = "停止失败";
    rig.process(rig.report(), "关闭无线 ADB 失败：");
    EXPECT_EQ(rig.engine.calls, (std::vector<std::string>{"stop 10.0.0.5:5555", "disconnect 10.0.0.5:5555"}));
    EXPECT_EQ(rig.lines.back(), "关闭无线 ADB 失败：停止失败");
}

// Success: every mirror entry of these glasses goes (whatever its key), the code acts once, and
// a port that still answers is reported.
TEST(ScanDisableProcessor, SuccessRemovesOverlappingMirrorsVoidsCodeAndWarnsOpenPort) {
    DisableRig rig;
    auto glasses = wirelessTargetDevice("10.0.0.5:5555", "10.0.0.5");
    glasses.deviceId = "T3-001";
    rig.mirrors = {{"device:t3-001", glasses},
                   {"ip:10.0.0.5", wirelessTargetDevice("10.0.0.5:5555", "10.0.0.5")},
                   {"ip:10.0.0.6", wirelessTargetDevice("10.0.0.6:5555", "10.0.0.6")}};
    rig.engine.portStillOpen = true;
    const auto report = rig.report();
    rig.process(report, "眼镜已报告关闭无线 ADB");
    EXPECT_EQ(rig.engine.calls,
              (std::vector<std::string>{"stop 10.0.0.5:5555", "disconnect 10.0.0.5:5555", "port check 1.0"}));
    EXPECT_EQ(rig.mirrors.size(), 1u);
    EXPECT_TRUE(rig.mirrors.contains("ip:10.0.0.6"));
    EXPECT_FALSE(rig.controller->isShowingDisableQr());
    EXPECT_TRUE(rig.logged("无线 ADB 已关闭: 10.0.0.5:5555"));
    EXPECT_EQ(rig.lines.back(), "眼镜已报告关闭无线 ADB，但 10.0.0.5:5555 仍在响应连接。");
    EXPECT_TRUE(rig.page.states.back().starts_with("无线 ADB 端口仍开放/"));

    rig.process(report, "关闭无线 ADB 回调会话不匹配，已忽略。");
    EXPECT_EQ(rig.engine.calls.size(), 3u);
}

}  // namespace
}  // namespace orvan
