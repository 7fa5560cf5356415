#include <gtest/gtest.h>

#include <mutex>
#include <sstream>

#include "foundation/MirrorError.h"
#include "foundation/Text.h"
#include "pairing/RecordingQrPage.h"
#include "pairing/ScanDisableProcessor.h"
#include "pairing/ScanFailureText.h"
#include "pairing/ScanMirrorTask.h"
#include "pairing/WirelessAdbCallbackBook.h"

namespace orvan {
namespace {

constexpr const char* kSession = "5A1C0E3E-0000-4000-8000-00000000000A";
constexpr const char* kSecond = "\n如果使用生活版眼镜，请在手机 Orvan AI App 的“开发者”页面确认“眼镜 ADB 调试”已开启。";

// The callback book's admission of READYs, one row a history. A step is "new S" (an enable code of
// session S), "ready S T" (a READY of S for target T, its mirror not running), "mirroring S T" (a
// READY whose mirror runs), "running S T" (its start succeeded), "failed S T" (its start
// failed), and an admitting step ends in "-> yes" or "-> no".
TEST(WirelessAdbCallbackBook, AdmitsAReadyOncePerSessionAndTarget) {
    const std::vector<std::pair<std::string, std::vector<std::string>>> rows = {
        {"once", {"new A", "ready A t1 -> yes", "ready A t1 -> no", "ready A T1 -> no"}},
        {"per target", {"new A", "ready A t1 -> yes", "ready A t2 -> yes"}},
        {"replaced session", {"new A", "new B", "ready A t1 -> no", "ready B t1 -> yes"}},
        {"late worker", {"new A", "ready A t1 -> yes", "new B", "ready A t2 -> no", "ready B t1 -> yes"}},
        {"running mirror", {"new A", "ready A t1 -> yes", "running A t1", "mirroring A t1 -> no"}},
        {"window closed", {"new A", "ready A t1 -> yes", "running A t1", "ready A t1 -> yes"}},
        {"after a failure", {"new A", "ready A t1 -> yes", "failed A t1", "ready A t1 -> yes", "ready A t1 -> no"}},
    };
    for (const auto& [name, steps] : rows) {
        WirelessAdbCallbackBook book;
        for (const auto& step : steps) {
            std::istringstream words(step);
            std::string op, session, target, arrow, expected;
            words >> op >> session >> target >> arrow >> expected;
            const std::string key = WirelessAdbCallbackBook::callbackConsumptionKey(session, target);
            if (op == "new") book.changeSession(session);
            if (op == "running") book.markRunning(key);
            if (op == "failed") {
                book.setMirrorStatus(key, "FAILED");
                book.releaseAfterFailure(key, false);
            }
            if (op == "ready" || op == "mirroring") {
                EXPECT_EQ(book.admitReady(session, key, op == "mirroring").process, expected == "yes") << name << ": " << step;
            }
        }
    }
}

// The kinds come first, then adb's words in order, case ignored.
TEST(ScanFailureText, PicksTheFirstMatchingRow) {
    using Kind = WirelessConnectFailure::Kind;
    const std::vector<std::pair<WirelessConnectFailure, std::string>> rows = {
        {{Kind::sharedServerNeedsRecovery, "connection refused"}, "眼镜 10.0.0.5 的 5555 端口可以访问"},
        {{Kind::localNetworkDenied, "no route to host"}, "OrvanMirror 尚未获得系统本地网络权限。"},
        {{Kind::other, "No route to host; connection refused"}, "电脑（未知）无法访问眼镜（10.0.0.5）。请确认电脑与 Lab "},
        {{Kind::other, "CONNECTION REFUSED, unauthorized"}, "眼镜 10.0.0.5 拒绝 ADB 连接"},
        {{Kind::other, "failed to authenticate: unauthorized"}, "电脑已经找到眼镜 10.0.0.5"},
        {{Kind::other, "device unauthorized (offline)"}, "眼镜尚未授权该电脑"},
        {{Kind::other, "local_network_denied: adb's words name no kind"}, "无法连接眼镜 10.0.0.5。请确认电脑与 Lab 可以"},
        {{Kind::other, ""}, "无法连接眼镜 10.0.0.5。请确认电脑与 Lab 可以"}};
    for (const auto& [failure, start] : rows) {
        EXPECT_TRUE(scanConnectionFailureText(failure, "10.0.0.5", "Lab", std::nullopt).starts_with(start))
            << failure.text;
    }
}

// Scripted answers; each call is recorded as one short line.
struct ScriptedEngine final : ScanConnectionEngine {
    std::mutex mutex;
    std::vector<std::string> calls;
    AdbServerScope preferred = AdbServerScope::privateMirroring;
    std::set<std::pair<AdbServerScope, bool>> responsive;  // (scope, fastReuse)
    std::map<AdbServerScope, bool> connects;
    std::function<void()> startMirror = [] {};
    std::function<void()> onRecoveryProbe = [] {};
    std::function<void()> onConnect = [] {};

    void record(std::string call, double timeout = 0) {
        std::lock_guard l(mutex);
        calls.push_back(timeout ? call + " " + std::to_string(timeout).substr(0, 3) : call);
    }
    static const char* name(AdbServerScope s) { return s == AdbServerScope::privateMirroring ? "private" : "shared"; }
    AdbServerScope preferredScanAdbServerScope() override { return preferred; }
    void suppressPrivateWirelessAdbTemporarily(const std::string& reason) override { record("suppress " + reason); }
    bool isAdbTargetResponsive(const std::string&, double timeout, AdbServerScope scope) override {
        record(std::string("probe ") + name(scope), timeout);
        if (timeout == 1.0) onRecoveryProbe();
        return responsive.contains({scope, timeout < 1.0});
    }
    std::optional<AdbTargetState> adbTargetState(const std::string&, AdbServerScope) override {
        return AdbTargetState::of("device");
    }
    bool refreshWirelessAdbTargetOnce(const std::string&, int, AdbServerScope) override {
        record("refresh");
        return false;
    }
    bool tryConnectWirelessAdb(const std::string&, int, const WirelessConnectCall& call) override {
        record(std::string("connect ") + name(call.scope) + (call.preferImmediateSharedFallback ? "!" : ""),
               call.timeout);
        onConnect();
        if (connects[call.scope]) return true;
        call.onFailure({.text = "failed to connect to '10.0.0.5:5555': Connection refused"});
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
    void disconnectWirelessAdb(const std::string& ip, int) override { record("disconnect " + ip); }
    bool wirelessPortAnswers(const std::string&, int, double timeout) override {
        record("port check", timeout);
        return portStillOpen;
    }
    std::string stopError;
    bool portStillOpen = false;
};

struct TaskRig {
    ManualMainQueue main;
    FakeClock clock;
    ScriptedEngine engine;
    RecordingScanStatus status;
    ScanSessionCoordinator coordinator{main, status, ScanSessionHooks{}};
    std::shared_ptr<ScanMirrorTask> task =
        std::make_shared<ScanMirrorTask>(engine, coordinator, main, clock, status, ScanTaskHooks{});
    const std::string key = std::string(kSession) + "|10.0.0.5:5555";
    ScanMirrorRequest request{wirelessTargetDevice("10.0.0.5:5555", "10.0.0.5"),
                              {.ip = "10.0.0.5", .adbPort = 5555},
                              "10.0.0.5:5555",
                              kSession,
                              "Lab",
                              "10.0.0.1",
                              key};
    TaskRig() {
        coordinator.sessionChanged("", kSession);
        coordinator.book().admitReady(kSession, key, false);
    }
    void run() {
        task->run(request);
        main.runPending();
    }
    std::string ack() { return coordinator.book().ackState(key).mirrorStatus; }
};

// An online shared transport is reused without a connect; a failed private connect moves to
// the shared server without restarting anything. Either way the glasses then read RUNNING.
TEST(ScanMirrorTask, ReusesOrFallsBackToTheSharedServer) {
    for (bool online : {true, false}) {
        TaskRig rig;
        if (online) rig.engine.responsive = {{AdbServerScope::sharedDevelopment, true}};
        rig.engine.connects[AdbServerScope::sharedDevelopment] = true;
        rig.run();
        EXPECT_EQ(text::joined(rig.engine.calls, ","),
                  online ? "probe shared 0.8,mirror shared,sync"
                         : "probe shared 0.8,probe private 0.8,connect private! 4.0,"
                           "suppress 当前扫码未形成有效 transport,connect shared 4.0,mirror shared,sync");
        EXPECT_EQ(rig.ack(), "RUNNING");
    }
    // The app quits during the private connect: no fallback to the shared server, nothing shown.
    TaskRig rig;
    rig.engine.onConnect = [&] { rig.task->stop(); };
    rig.run();
    EXPECT_EQ(text::joined(rig.engine.calls, ","), "probe shared 0.8,probe private 0.8,connect private! 4.0");
    EXPECT_TRUE(rig.status.texts.empty());
    EXPECT_NE(rig.ack(), "FAILED");
}

// Nothing answers: four recovery waits of the asked lengths, one refresh after the third, then
// the refused text; the key is released for a rescan and the glasses read FAILED. A new code
// during the waits ends the recovery and the task at the next check.
TEST(ScanMirrorTask, LateRecoveryEndsInFailureTextOrStopsForANewCode) {
    for (bool newCode : {false, true}) {
        TaskRig rig;
        rig.engine.preferred = AdbServerScope::sharedDevelopment;
        if (newCode) rig.engine.onRecoveryProbe = [&] { rig.coordinator.sessionChanged(kSession, "NEW"); };
        rig.run();
        if (newCode) {
            EXPECT_EQ(rig.clock.sleeps(), (std::vector<double>{1.0, 2.0}));
            continue;
        }
        EXPECT_EQ(rig.clock.sleeps(), (std::vector<double>{1.0, 2.0, 4.0, 8.0}));
        EXPECT_EQ(rig.engine.calls[rig.engine.calls.size() - 2], "refresh");
        const std::string text =
            std::string("眼镜 10.0.0.5 拒绝 ADB 连接，请确认无线 ADB 端口已开启后重试。") + kSecond;
        EXPECT_EQ(rig.status.texts.back(), text);
        EXPECT_EQ(rig.ack(), "FAILED");
        EXPECT_TRUE(rig.coordinator.book().admitReady(kSession, rig.key, false).process);
    }
}

struct DisableRig {
    ManualMainQueue main;
    RecordingQrPage page;
    ScriptedEngine engine;
    std::vector<std::string> lines;
    std::map<std::string, ConnectedAdbDevice> mirrors;
    std::shared_ptr<WirelessAdbQrController> controller =
        std::make_shared<WirelessAdbQrController>(main, page, WirelessAdbQrHooks{});
    std::shared_ptr<ScanDisableProcessor> processor = std::make_shared<ScanDisableProcessor>(
        engine, controller, main,
        ScanDisableHooks{.onLog = [this](const std::string& l) { lines.push_back(l); },
                         .activeMirrorDevices = [this] { return mirrors; },
                         .removeActiveMirrorDevice = [this](const std::string& key) { mirrors.erase(key); }});
    WirelessAdbCallback report() {
        return {.sessionId = controller->disableSessionId(),
                .status = "DISABLED",
                .device = {{.ip = "10.0.0.5", .adbPort = 5555}}};
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

// A failed stop still disconnects and is the error reported; the code stays valid. On success
// every mirror entry of these glasses goes (whatever its key), the code acts only once, and a
// port that still answers is reported.
TEST(ScanDisableProcessor, StopsDisconnectsAndVoidsTheCode) {
    DisableRig rig;
    auto glasses = wirelessTargetDevice("10.0.0.5:5555", "10.0.0.5");
    glasses.deviceId = "T3-001";
    rig.mirrors = {{"device:t3-001", glasses},
                   {"ip:10.0.0.5", wirelessTargetDevice("10.0.0.5:5555", "10.0.0.5")},
                   {"ip:10.0.0.6", wirelessTargetDevice("10.0.0.6:5555", "10.0.0.6")}};
    const auto report = rig.report();
    auto refused = report;  // the glasses' reason is one clean, bounded line
    refused.status = "FAILED";
    refused.message = "端口\r\n[00:00:00] 伪造\t" + std::string(70000, 'x');
    rig.process(refused, "关闭无线 ADB 失败：");
    EXPECT_EQ(rig.lines.back(), "关闭无线 ADB 失败：端口  [00:00:00] 伪造 " + std::string(282, 'x'));
    rig.lines.clear();
    rig.engine.stopError = "停止失败";
    rig.process(report, "关闭无线 ADB 失败：");
    EXPECT_EQ(rig.engine.calls, (std::vector<std::string>{"stop 10.0.0.5:5555", "disconnect 10.0.0.5"}));
    EXPECT_EQ(rig.lines.back(), "关闭无线 ADB 失败：停止失败");

    rig.engine.stopError.clear();
    rig.engine.portStillOpen = true;
    rig.process(report, "眼镜已报告关闭无线 ADB");
    EXPECT_EQ(rig.engine.calls.back(), "port check 1.0");
    EXPECT_EQ(rig.mirrors.size(), 1u);
    EXPECT_TRUE(rig.mirrors.contains("ip:10.0.0.6"));
    EXPECT_FALSE(rig.controller->isShowingDisableQr());
    EXPECT_EQ(rig.lines.back(), "眼镜已报告关闭无线 ADB，但 10.0.0.5:5555 仍在响应连接。");
    EXPECT_EQ(rig.page.states.back(), "无线 ADB 端口仍开放");

    rig.process(report, "关闭无线 ADB 回调会话不匹配，已忽略。");
    EXPECT_EQ(rig.engine.calls.size(), 5u);
}

}  // namespace
}  // namespace orvan
