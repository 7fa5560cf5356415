// Scan pairing end to end: the QR controller's callback server on loopback, the coordinator and
// the connection task over the real adb, simulated glasses that decode the shown code from a PNG
// (zbarimg) and speak the callback protocol over HTTP, and the scrcpy stand-in as the window. Only
// what the real peers prove; the branches are scripted in ScanMirrorTaskTest and
// ScanSessionCoordinatorTest.
#include "network/QrPngWriter.h"
#include "pairing/RecordingQrPage.h"
#include "pairing/ScanConnectionEngine.h"
#include "pairing/ScanDisableProcessor.h"
#include "pairing/ScanMirrorTask.h"
#include "pairing/ScanSessionCoordinator.h"
#include "pairing/WirelessAdbQrController.h"
#include "support/MirrorWorldTest.h"

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
        coordinator = std::make_unique<ScanSessionCoordinator>(*main, hooks);
        ScanTaskHooks taskHooks;
        taskHooks.refreshDeviceTabs = [this](const AdbDevices&) { ++tasksDone; };  // a task's last step
        task = std::make_shared<ScanMirrorTask>(*engine, *coordinator, *main, SystemClock::shared(), taskHooks);

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

    std::unique_ptr<MirrorServiceScanEngine> engine;
    std::unique_ptr<ScanSessionCoordinator> coordinator;
    std::shared_ptr<ScanMirrorTask> task;
    std::shared_ptr<ScanDisableProcessor> disable;
    RecordingQrPage page;
    std::shared_ptr<WirelessAdbQrController> qr;
    std::vector<SimulatedGlasses*> started;
    int scans = 0;
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

}  // namespace
}  // namespace orvan
