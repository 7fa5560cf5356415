// Scan pairing end to end: the QR controller's callback server on loopback, the coordinator and
// the connection task over the real adb, simulated glasses that decode the shown code from a PNG
// (zbarimg) and speak the callback protocol over HTTP, and the scrcpy stand-in as the window. Only
// what the real peers prove; the branches are scripted in ScanMirrorTaskTest and
// ScanSessionCoordinatorTest.
#include "mirror/GlassShellOverlayGeometry.h"
#include "network/QrPngWriter.h"
#include "pairing/RecordingQrPage.h"
#include "pairing/ScanConnectionEngine.h"
#include "pairing/ScanDisableProcessor.h"
#include "pairing/ScanMirrorTask.h"
#include "pairing/ScanSessionCoordinator.h"
#include "shell/WirelessAdbQrController.h"
#include "foundation/MirrorError.h"
#include "foundation/Text.h"
#include "platform/X11WindowSystem.h"
#include "platform/XvfbDisplay.h"
#include "support/ErrorOf.h"
#include "support/FakeScrcpy.h"
#include "support/MirrorWorldTest.h"
#include "support/RealScrcpy.h"
#include "support/RegisteredWindows.h"
#include "support/Recorders.h"

namespace orvan {
namespace {

using namespace std::chrono_literals;
using testing::SimulatedGlasses;

class ScanE2eTest : public testing::MirrorWorldTest {
protected:
    void SetUp() override {
        MirrorWorldTest::SetUp();
        if (IsSkipped()) return;
        engine = std::make_unique<MirrorServiceScanEngine>(*service);

        ScanSessionHooks hooks;
        hooks.isMirroring = [this](const ConnectedAdbDevice& device) { return service->isMirroring(device); };
        hooks.adbPublicKey = [this] {  // the reply hands the glasses this computer's key
            return std::optional(testing::readWholeFile(world->adbPublicKeyPath()));
        };
        hooks.startWirelessMirrorFromCallback = [this](const ScanMirrorRequest& request) {
            ++tasksStarted;
            task->startWirelessMirrorFromCallback(request);
        };
        hooks.processDisableWirelessAdbCallback = [this](const WirelessAdbCallback& callback) {
            disable->processDisableWirelessAdbCallback(callback);
        };
        auto superviseScanMirror = [this](const ConnectedAdbDevice& device) {
            if (supervise)
                service->superviseMirror(device, device.serial, false, device.serial, AdbServerScope::privateMirroring);
        };
        hooks.registerRunningMirror = superviseScanMirror;
        coordinator = std::make_unique<ScanSessionCoordinator>(*main, status, hooks);
        ScanTaskHooks taskHooks;
        taskHooks.registerRunningMirror = superviseScanMirror;
        taskHooks.refreshDeviceTabs = [this](const AdbDevices&) { ++tasksDone; };  // a task's last step
        task =
            std::make_shared<ScanMirrorTask>(*engine, *coordinator, *main, SystemClock::shared(), status, taskHooks);

        WirelessAdbQrHooks qrHooks;
        qrHooks.onCallback = [this](const WirelessAdbCallback& callback) {
            return coordinator->handleWirelessAdbCallback(callback);
        };
        qrHooks.onSessionChanged = [this](const std::string& old, const std::string& now) {
            coordinator->sessionChanged(old, now);
        };
        qrHooks.wifiProfileProvider = [] { return WirelessAdbWifiProfile{.ssid = "Lab", .password = "lab-pass-1"}; };
        qrHooks.lanAddress = [] { return LanInterfaceAddress{.interfaceName = "lo", .address = "127.0.0.1"}; };
        qr = std::make_shared<WirelessAdbQrController>(*main, page, qrHooks, 0,
                                                       CallbackServerLimits{.bindAddress = "127.0.0.1"});
        ScanDisableHooks disableHooks;
        disableHooks.activeMirrorDevices = [this] {
            std::map<std::string, ConnectedAdbDevice> mirrors;
            for (auto& glasses : started)
                mirrors[glasses->wifiSerial()] = wirelessTargetDevice(glasses->wifiSerial(), glasses->wlanAddress());
            return mirrors;
        };
        disable = std::make_shared<ScanDisableProcessor>(*engine, qr, *main, disableHooks);
        qr->refreshEnableQr();
        ASSERT_TRUE(main->runUntil([&] { return page.image.has_value(); }, 20s)) << page.card;
    }

    void TearDown() override {
        // A task goes on after the glasses read RUNNING (it lists the devices): the service must
        // outlive it.
        if (main) main->runUntil([&] { return tasksDone == tasksStarted; }, 60s);
        if (qr) qr->stop();
        MirrorWorldTest::TearDown();
    }

    SimulatedGlasses& glasses(const std::string& auth = "off") {
        return *started.emplace_back(
            &world->startGlasses({.auth = auth, .trustWorldKey = false, .wirelessAdb = false, .media = false}));
    }

    // The glasses scan what the page shows now; returns the scan's id.
    int startScan(SimulatedGlasses& glasses, const std::string& options = "") {
        auto png = world->root() / ("code-" + std::to_string(++scans) + ".png");
        EXPECT_TRUE(writeQrPng(*page.image, png.string()));
        return glasses.control("scan-png " + glasses.name() + " pollMs=100 " + options + " " + png.string()).at("scan");
    }
    // How that scan ended, as the glasses tell it.
    std::string outcome(SimulatedGlasses& glasses, int id) {
        std::optional<nlohmann::json> done;
        auto ended = [&](const nlohmann::json& e) { return e["event"] == "scan-done" && e["scan"] == id; };
        main->runUntil([&] { return (done = glasses.waitForEvent(ended, 0ms)).has_value(); }, 90s);
        return done ? done->value("outcome", "") : "no scan-done";
    }
    std::string scan(SimulatedGlasses& glasses) { return outcome(glasses, startScan(glasses)); }
    // As in the app: the scans' mirrors are supervised and their ends reach the supervisor.
    MirrorSupervisor& superviseScans(std::function<void(const MirrorKey&)> onEnd = nullptr) {
        supervise = true;
        auto* supervisor = &service->mirrorSupervisor();
        service->setOnScrcpyTerminated([supervisor, onEnd](const MirrorKey& key, const std::shared_ptr<ScrcpyChild>& child) {
            if (onEnd) onEnd(key);
            if (auto end = child ? child->exit() : std::nullopt) supervisor->mirrorEnded(key, *end, child->output().text());
        });
        return *supervisor;
    }

    RecordingScanStatus status;
    std::unique_ptr<MirrorServiceScanEngine> engine;
    std::unique_ptr<ScanSessionCoordinator> coordinator;
    std::shared_ptr<ScanMirrorTask> task;
    std::shared_ptr<ScanDisableProcessor> disable;
    RecordingQrPage page;
    std::shared_ptr<WirelessAdbQrController> qr;
    std::vector<SimulatedGlasses*> started;
    int scans = 0;
    bool supervise = false;
    int tasksStarted = 0;
    int tasksDone = 0;
};

// Glasses that do not know this computer trust the key the reply carries; a second scan of the
// same code reuses the window.
TEST_F(ScanE2eTest, TheOfferedKeyLetsTheGlassesInAndAScanAgainReusesTheWindow) {
    auto& pair = glasses("key");
    EXPECT_EQ(scan(pair), "RUNNING");
    EXPECT_EQ(scan(pair), "RUNNING");
    EXPECT_EQ(standinEvents("start").size(), 1u) << "the second scan of the same glasses opened another window";
}

TEST_F(ScanE2eTest, ThreeGlassesScanningAtOnceAreAllMirrored) {
    std::vector<std::pair<SimulatedGlasses*, int>> scanning;
    for (int i = 0; i < 3; ++i) {
        auto& pair = glasses();
        scanning.emplace_back(&pair, startScan(pair));
    }
    for (auto [pair, id] : scanning) EXPECT_EQ(outcome(*pair, id), "RUNNING") << pair->name();
    EXPECT_EQ(standinEvents("start").size(), 3u);
}

// A refusal holding no key: ScanSessionCoordinatorTest's BadCallback rows.
TEST_F(ScanE2eTest, DisableCodeStopsTheMirrorAndClosesWirelessAdb) {
    auto& pair = glasses();
    ASSERT_EQ(scan(pair), "RUNNING");
    qr->showDisableQrMode();
    ASSERT_TRUE(qr->isShowingDisableQr()) << page.card;
    EXPECT_EQ(scan(pair), "DISABLED");
    EXPECT_TRUE(main->runUntil([&] { return !qr->isShowingDisableQr(); }, 30s)) << page.card;
    EXPECT_EQ(page.states.back(), "无线 ADB 已关闭");
    EXPECT_FALSE(service->isMirroring(wirelessTargetDevice(pair.wifiSerial(), pair.wlanAddress())));
    EXPECT_FALSE(world->deviceState(pair.wifiSerial()).has_value());
}

// A recovering pair back on a new lease scans again: the new scan takes the mirror over instead
// of opening a second window while the old address is still being tried.
TEST_F(ScanE2eTest, APairBackOnANewAddressThroughANewScanIsTakenOver) {
    env.set("ORVAN_STANDIN_WATCH_MS", "200");  // the window notices its glasses going away
    auto& supervisor = superviseScans();
    auto& pair = glasses();
    ASSERT_EQ(scan(pair), "RUNNING") << page.card;
    const std::string moved = pair.control("wlan " + pair.name() + " auto").value("wlanAddress", "") + ":" +
                              std::to_string(pair.wirelessPort());
    ASSERT_TRUE(main->runUntil([&] { return supervisor.recoveringIdentities().size() == 1; }, 60s));
    ASSERT_EQ(scan(pair), "RUNNING") << page.card;
    EXPECT_TRUE(main->runUntil([&] { return supervisor.recoveringIdentities().empty(); }, 30s));
    EXPECT_TRUE(service->scrcpyLauncher().isMirroring(moved));
    EXPECT_EQ(testing::registeredPids(service->scrcpyLauncher()).size(), 1u);
}

// ---- the real clients ---------------------------------------------------------------------------

// The same scan, with a real scrcpy client (1.25, 2.7, 3.3.4 and ORVAN_REAL_SCRCPY's) as the
// window process, on a private X server with a window manager, against the simulated glasses
// playing the device-side server. Sound is off throughout: 1.25 has no option for it.
class RealScrcpyScan : public ScanE2eTest, public ::testing::WithParamInterface<testing::RealScrcpyClient> {
protected:
    void configure(MirrorServiceOptions& options) override {
        display = std::make_unique<testing::XvfbDisplay>(true);
        env.set("DISPLAY", display->name());
        for (const auto& [name, value] : GetParam().environment(testing::writeScrcpyServerFile(world->root())))
            if (name != "ADB") env.set(name, value);  // the app gives the client its own adb
        std::filesystem::remove(world->toolFolder() / "scrcpy");
        std::filesystem::create_symlink(GetParam().path, world->toolFolder() / "scrcpy");
        options.tools = ToolLocation::inToolFolder(world->toolFolder());
        windows = std::make_shared<X11WindowSystem>(display->name());
        options.windows = windows;
    }
    void SetUp() override {
        if (testing::realScrcpyClients().empty()) GTEST_SKIP() << testing::realScrcpyUnavailableReason();
        if (!testing::XvfbDisplay::serverAvailable()) GTEST_SKIP() << "needs Xvfb";
        ScanE2eTest::SetUp();
        if (IsSkipped()) return;
        log.attach(*service->log());
        service->setAudioForwardingEnabled(false);
        service->setOnScrcpyTerminated([this](const MirrorKey& key, const std::shared_ptr<ScrcpyChild>&) {
            ended.push_back(key);
        });
    }
    std::vector<std::string> loggedWith(const std::string& part) const {
        std::vector<std::string> found;
        for (const auto& line : log.lines())
            if (line.find(part) != std::string::npos) found.push_back(line);
        return found;
    }
    std::vector<WindowInfo> windowsOf(pid_t pid) {
        std::vector<WindowInfo> found;
        for (const auto& window : windows->visibleTopLevelWindows())
            if (window.pid == pid && window.isLargerThanHelperWindow()) found.push_back(window);
        return found;
    }
    // How many times a client pushed its server: one per start of a client.
    size_t clientStarts() const {
        size_t pushes = 0;
        for (const auto& call : world->adbTrace())
            if (!call.command().empty() && call.command()[0] == "push") ++pushes;
        return pushes;
    }

    std::unique_ptr<testing::XvfbDisplay> display;
    std::shared_ptr<X11WindowSystem> windows;
    testing::LogRecorder log;
    std::vector<MirrorKey> ended;
};

TEST_P(RealScrcpyScan, AScanMirrorsAGlassesShellFollowsAndEndsAreSeenOnce) {
    auto& pair = glasses();
    ASSERT_EQ(scan(pair), "RUNNING") << page.card;
    auto handle = service->scrcpyLauncher().runningScrcpyHandle({pair.wifiSerial()});
    ASSERT_TRUE(handle && handle->process);
    const pid_t mirror = handle->pid();
    // The client's lines come as it writes them, not when it exits: its texture line made it ready.
    EXPECT_EQ(loggedWith("scrcpy 启动就绪: target=" + pair.wifiSerial() + ", signal=Texture").size(), 1u);
    EXPECT_TRUE(testing::waitUntil([&] { return !windowsOf(mirror).empty(); })) << "no window of the client";

    // A glasses-shell window: kept on top at our request, reported a layer up, still counted; the
    // overlay finds it.
    auto& shell = world->startConnectedGlasses({.media = false});
    service->startGlassShellMirror(shell.wifiSerial());
    auto shellHandle = service->scrcpyLauncher().runningScrcpyHandle({shell.wifiSerial(), MirrorWindowKind::glassShell});
    ASSERT_TRUE(shellHandle);
    const pid_t shellPid = shellHandle->pid();
    ASSERT_TRUE(testing::waitUntil([&] { return !windowsOf(shellPid).empty(); }));
    auto shellWindow = windowsOf(shellPid).front();
    EXPECT_EQ(shellWindow.layer, 1);
    EXPECT_TRUE(hasVisibleScrcpyWindow(shellWindow, shellPid, true));
    EXPECT_EQ(GlassShellOverlayGeometry::followedOverlayFrame(windows->visibleTopLevelWindows(), shellPid),
              GlassShellOverlayGeometry::grown({shellWindow.x, shellWindow.y, shellWindow.width, shellWindow.height}));

    // Stopping ends the client, and no end is reported for it.
    service->scrcpyLauncher().stopProcessKeys({{shell.wifiSerial(), MirrorWindowKind::glassShell}});
    EXPECT_TRUE(testing::waitUntilGone(shellPid));

    // The glasses leave the Wi-Fi: the client sees its device go and the end is reported once.
    pair.control("drop " + pair.name() + " all abrupt");
    ASSERT_TRUE(main->runUntil([&] { return !ended.empty(); }, 60s)) << "the client did not end";
    EXPECT_TRUE(testing::waitUntilGone(mirror));
    main->runPending();
    EXPECT_EQ(ended, std::vector<MirrorKey>{{pair.wifiSerial()}});
    auto exits = loggedWith("scrcpy 投屏进程已退出: " + pair.wifiSerial());
    ASSERT_EQ(exits.size(), 1u);
    auto output = loggedWith("scrcpy 错误输出: ");
    ASSERT_EQ(output.size(), 1u);
    EXPECT_NE(output[0].find("Device disconnected"), std::string::npos) << output[0];
}

// The glasses drop off the Wi-Fi for a while: the real client sees its device go, and the mirror
// comes back by itself, with a new client, once they answer again.
TEST_P(RealScrcpyScan, AMirrorWhoseGlassesDropComesBackByItself) {
    auto& supervisor = superviseScans([this](const MirrorKey& key) { ended.push_back(key); });
    auto& pair = glasses();
    ASSERT_EQ(scan(pair), "RUNNING") << page.card;
    const pid_t first = service->scrcpyLauncher().runningScrcpyHandle({pair.wifiSerial()})->pid();
    pair.control("refuse " + pair.name() + " wifi on");
    pair.control("drop " + pair.name() + " wifi abrupt");
    ASSERT_TRUE(main->runUntil([&] { return supervisor.recoveringIdentities().size() == 1; }, 60s))
        << "the end was not taken for a transport failure: " << text::joined(log.lines(), "\n");
    pair.control("refuse " + pair.name() + " wifi off");
    ASSERT_TRUE(main->runUntil([&] { return supervisor.recoveringIdentities().empty(); }, 90s));
    auto handle = service->scrcpyLauncher().runningScrcpyHandle({pair.wifiSerial()});
    ASSERT_TRUE(handle && handle->process);
    EXPECT_NE(handle->pid(), first);
    EXPECT_EQ(loggedWith("投屏已恢复（" + pair.wifiSerial() + "）").size(), 1u);
    EXPECT_EQ(ended, std::vector<MirrorKey>{{pair.wifiSerial()}});
}

// Neither is a broken transport: each gets its own message, and the client runs once.
TEST_P(RealScrcpyScan, AMismatchAndAnUnauthorizedPairSayWhyWithoutARetry) {
    auto& pair = world->startConnectedGlasses({.media = false});
    pair.control("scrcpy-mismatch " + pair.name() + " 9.9");
    const auto device = wirelessTargetDevice(pair.wifiSerial(), pair.wlanAddress());
    std::optional<MirrorError::Kind> kind;
    std::string error;
    try {
        service->mirrorOrchestrator().startVerifiedWirelessMirror(device, nullptr, nullptr,
                                                                 AdbServerScope::sharedDevelopment);
    } catch (const MirrorError& failure) {
        kind = failure.kind();
        error = failure.what();
    }
    EXPECT_EQ(kind, MirrorError::Kind::scrcpyVersionMismatch) << error;
    EXPECT_NE(error.find("（scrcpy-server 9.9，scrcpy " + GetParam().version + "）"), std::string::npos) << error;
    EXPECT_EQ(clientStarts(), 1u) << "the start was retried";

    auto& locked = world->startGlasses({.auth = "key", .trustWorldKey = false, .media = false});
    world->connectWifi(locked);
    ASSERT_TRUE(world->waitForState(locked.wifiSerial(), "unauthorized", 20s));
    EXPECT_EQ(testing::errorKindOf<MirrorError>([&] { service->startMirror(locked.wifiSerial()); }),
              MirrorError::Kind::deviceUnauthorized);
    EXPECT_TRUE(service->scrcpyLauncher().registeredProcessKeys().empty());
}

INSTANTIATE_TEST_SUITE_P(RealScrcpy, RealScrcpyScan, ::testing::ValuesIn(testing::realScrcpyClients()),
                         [](const auto& client) { return client.param.testName(); });
GTEST_ALLOW_UNINSTANTIATED_PARAMETERIZED_TEST(RealScrcpyScan);

}  // namespace
}  // namespace orvan
