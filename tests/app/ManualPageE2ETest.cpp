// The manual and scan pages driven like a user would, against the real adb, simulated glasses
// and the scrcpy stand-in: detect, select, mirror, stop; scan the page's code, mirror, stop.
#include <gtest/gtest.h>

#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollArea>
#include <QTest>
#include <fstream>
#include <ranges>

#include "app/MainWindow.h"
#include "app/MediaExportWindow.h"
#include "app/ManualPage.h"
#include "app/ScanPage.h"
#include "app/TestAppOptions.h"
#include "network/WirelessAdbWifiCredentialStore.h"
#include "platform/Dispatch.h"
#include "support/FakeSecretStore.h"
#include "support/RegisteredWindows.h"
#include "support/AdbWorld.h"
#include "support/ScopedEnvironment.h"
#include "support/Wait.h"

namespace orvan {
namespace {

using testing::AdbWorld;

class ManualPageE2E : public ::testing::Test {
protected:
    void SetUp() override {
        if (!AdbWorld::available() || !AdbWorld::scrcpyStandinPath())
            GTEST_SKIP() << "adb, the simulator or the stand-in is missing";
        world_ = std::make_unique<AdbWorld>();
        auto options = testing::appOptions(world_->root(), world_->toolFolder(), world_->privateServerPort());
        options.wifi = wifi_;
        options.wifiCredentials = credentials_;
        delegate_ = std::make_unique<AppDelegate>(options);
    }
    void TearDown() override {
        delegate_.reset();  // stops every mirror and the private server
        world_.reset();
    }

    ManualPage& page() { return *delegate_->window().manualPage(); }
    QPushButton* button(const char* name) { return page().findChild<QPushButton*>(name); }
    QString value(const char* name) { return page().findChild<QLabel*>(name)->text(); }
    QStringList tabTitles() {
        QStringList titles;
        for (auto* tab : page().findChildren<QPushButton*>("deviceTab"))
            if (!tab->property("deleted").toBool() && tab->isVisibleTo(&page())) titles << tab->text();
        return titles;
    }
    bool waitFor(const std::function<bool()>& condition, int milliseconds = 30000) {
        return QTest::qWaitFor(condition, milliseconds);
    }

    std::shared_ptr<FakeWifiSystem> wifi_ = std::make_shared<FakeWifiSystem>();
    std::shared_ptr<WirelessAdbWifiCredentialStore> credentials_ =
        std::make_shared<WirelessAdbWifiCredentialStore>(std::make_shared<FakeSecretStore>());
    std::unique_ptr<AdbWorld> world_;
    std::unique_ptr<AppDelegate> delegate_;
};

TEST_F(ManualPageE2E, DetectMirrorAndStopAUsbAttachedPair) {
    testing::GlassesOptions options;
    options.name = "usbpair";
    options.usb = true;
    auto& glasses = world_->startGlasses(options);
    world_->registerUsb(glasses);
    delegate_->window().show();
    delegate_->manualPage().loadRecentDevices();
    EXPECT_TRUE(page().findChild<QLabel*>("emptyTabsLabel") != nullptr);

    QTest::mouseClick(button("detectButton"), Qt::LeftButton);
    ASSERT_TRUE(waitFor([&] { return tabTitles() == QStringList{"Tervo3"}; })) << tabTitles().join(",").toStdString();
    ASSERT_TRUE(waitFor([&] { return button("detectButton")->isEnabled(); }));
    EXPECT_EQ(value("adbValue"), "USB ADB 已连接");
    EXPECT_EQ(value("modelValue"), "Tervo3");
    EXPECT_EQ(value("deviceIdValue"), QString::fromStdString(glasses.serialNo()));

    QTest::mouseClick(button("startButton"), Qt::LeftButton);
    ASSERT_TRUE(waitFor([&] { return tabTitles() == QStringList{"Tervo3 · 投屏中"}; }, 60000))
        << value("statusValue").toStdString() << " / " << page().lastAlertText().toStdString();
    EXPECT_EQ(value("ipValue"), QString::fromStdString(glasses.wlanAddress()));

    QTest::mouseClick(button("startButton"), Qt::LeftButton);
    ASSERT_TRUE(waitFor([&] { return tabTitles() == QStringList{"Tervo3"}; }, 30000));
    EXPECT_EQ(value("statusValue"), "已停止无线投屏，ADB连接保留。");
    // The pair stays reachable over Wi-Fi for debugging.
    EXPECT_EQ(world_->deviceState(glasses.wifiSerial()), "device");
}

// Glasses that adb lists but cannot use: the page says why, logs it once, and stops when they work.
TEST_F(ManualPageE2E, UnauthorizedGlassesAreExplainedOnceUntilTheyAreAllowed) {
    auto& glasses = world_->startGlasses({.name = "locked", .auth = "key", .trustWorldKey = false, .usb = true, .media = false});
    world_->registerUsb(glasses, "unauthorized");
    auto refreshOnce = [&] {
        delegate_->manualPage().refreshDevicesSilently(false);
        return waitFor([&] { return !delegate_->manualPage().isRefreshInProgress(); });
    };
    auto timesLogged = [&](const std::string& text) {
        std::ifstream file(delegate_->activityLog().file());
        std::string log(std::istreambuf_iterator<char>(file), {});
        return std::ranges::distance(std::views::split(log, text)) - 1;
    };
    const QString unauthorized = "尚未授权本电脑进行 USB 调试";
    ASSERT_TRUE(waitFor([&] { return refreshOnce() && value("statusValue").contains(unauthorized); }))
        << value("statusValue").toStdString();
    ASSERT_TRUE(refreshOnce() && refreshOnce());
    EXPECT_EQ(timesLogged(unauthorized.toStdString()), 1);

    glasses.acceptAuthorization();
    ASSERT_TRUE(waitFor([&] { return refreshOnce() && !value("statusValue").contains(unauthorized); }));
    EXPECT_EQ(timesLogged(unauthorized.toStdString()), 1);
}

// scrcpy is the user's to bring: until then the glasses are still found, their photos listed,
// and both pages say what is missing.
TEST_F(ManualPageE2E, WithoutScrcpyGlassesAreFoundAndTheirPhotosListedAndThePagesSaySo) {
    std::filesystem::remove(world_->toolFolder() / "scrcpy");
    auto& glasses = world_->startGlasses({.name = "noscrcpy", .usb = true});
    world_->registerUsb(glasses);
    delegate_->applicationDidFinishLaunching();
    ASSERT_TRUE(waitFor([&] { return !delegate_->window().scrcpyHint().isEmpty(); }));
    EXPECT_TRUE(delegate_->window().scrcpyHint().startsWith("未找到 scrcpy，暂时无法投屏"));
    EXPECT_FALSE(delegate_->window().scrcpyHint().contains("backports"));

    delegate_->manualPage().refreshDevicesSilently(false);
    ASSERT_TRUE(waitFor([&] { return delegate_->manualPage().mediaExportTargetDevice().device.has_value(); }))
        << value("statusValue").toStdString();
    delegate_->exportMedia();
    ASSERT_TRUE(waitFor([&] { return !delegate_->mediaExportWindow()->controller().items().empty(); }));
}

// The scan page, launched, with the running mirror of glasses that scanned its code.
class ScanPageE2E : public ManualPageE2E {
protected:
    ScanPage& scanPage() { return *delegate_->window().scanPage(); }
    std::string status() { return scanPage().statusTitleLabel()->text().toStdString(); }
    QScrollArea* strip() { return scanPage().findChild<QScrollArea*>("activeMirrorButtonsScrollView"); }
    std::string log() { return delegate_->window().logView()->toPlainText().toStdString(); }

    // `mirrored`: waits for the mirror the scan starts.
    testing::SimulatedGlasses& scannedGlasses(bool mirrored = true, const std::function<void(testing::SimulatedGlasses&)>& beforeScan = {}) {
        auto& glasses = world_->startGlasses({.name = "scanpair", .media = false});
        wifi_->set("扫码联调网络", "WPA", {"wlan-e2e"});
        credentials_->save({.ssid = "扫码联调网络", .password = "scan-e2e-pass", .securityType = "WPA"});
        delegate_->applicationDidFinishLaunching();
        EXPECT_TRUE(waitFor([&] { return !scanPage().qrImageView()->pixmap().isNull(); })) << status();
        const std::string png = (world_->root() / "enable-code.png").string();
        EXPECT_TRUE(scanPage().qrImageView()->pixmap().save(QString::fromStdString(png)));
        if (beforeScan) beforeScan(glasses);
        glasses.control("scan-png " + glasses.name() + " " + png);
        if (mirrored) {
            EXPECT_TRUE(waitFor([&] { return strip()->isVisibleTo(&scanPage()) && status() == "投屏已启动"; }, 90000))
                << status() << " / " << log();
        }
        return glasses;
    }
};

// Quitting while background work is in flight: the quit waits for it (it stops at its next
// step or wait, its adb commands ended after the mirrors' grace), nothing of it runs on after
// the app object, and nothing reaches the shared server once the private one has ended.
struct QuitCase {
    std::string name;
    std::function<void(ScanPageE2E&)> begin;  // returns with the work running
};
class AppQuitE2E : public ScanPageE2E, public ::testing::WithParamInterface<QuitCase> {
public:
    using ManualPageE2E::delegate_;
    using ManualPageE2E::waitFor;
    using ManualPageE2E::world_;
    using ScanPageE2E::log;
    using ScanPageE2E::scannedGlasses;
};

TEST_P(AppQuitE2E, QuitWhileWorkIsInFlight) {
    if (IsSkipped()) return;
    GetParam().begin(*this);
    ASSERT_FALSE(HasFailure());
    const auto file = delegate_->activityLog().file();
    delegate_.reset();
    EXPECT_EQ(Dispatch::backgroundTasksInFlight(), 0u) << "background work outlived the app";
    std::ifstream stream(file);
    const std::string lines(std::istreambuf_iterator<char>(stream), {});
    const auto ended = lines.find("应用退出，已停止投屏专用 ADB Server");
    ASSERT_NE(ended, std::string::npos) << lines;
    EXPECT_EQ(lines.find("共享 5037", ended), std::string::npos) << lines.substr(ended);
}

INSTANTIATE_TEST_SUITE_P(
    Work, AppQuitE2E,
    ::testing::Values(
        // The export window's first folder answers long after the quit's grace.
        QuitCase{"ExportListingSlowGlasses",
                 [](ScanPageE2E& test) {
                     auto& quit = static_cast<AppQuitE2E&>(test);
                     auto& glasses = quit.world_->startGlasses({.name = "slowlist", .usb = true, .bulkCount = 0});
                     quit.world_->registerUsb(glasses);
                     quit.delegate_->manualPage().refreshDevicesSilently(false);
                     ASSERT_TRUE(quit.waitFor(
                         [&] { return quit.delegate_->manualPage().mediaExportTargetDevice().device.has_value(); }));
                     glasses.control("shell-set slowlist " +
                                     nlohmann::json{{"command", "ls -la '/sdcard/DCIM/Camera/'"}, {"delayMs", 6000}}.dump());
                     quit.delegate_->exportMedia();
                     ASSERT_TRUE(quit.delegate_->mediaExportWindow()->controller().isLoadingMediaList());
                 }},
        // Glasses that answer slowly scanned the code: the scan task is connecting.
        QuitCase{"ScanStartOfSlowGlasses",
                 [](ScanPageE2E& test) {
                     auto& quit = static_cast<AppQuitE2E&>(test);
                     quit.scannedGlasses(false, [](auto& glasses) { glasses.control("delay scanpair 3000"); });
                     ASSERT_TRUE(quit.waitFor([&] { return quit.log().find("本次扫码投屏使用") != std::string::npos; }, 60000))
                         << quit.log();
                 }},
        // A detection finds no pair and reconnects the three remembered ones, which do not answer.
        QuitCase{"DetectionReconnectingThreeRecentPairs",
                 [](ScanPageE2E& test) {
                     auto& quit = static_cast<AppQuitE2E&>(test);
                     for (int pair = 1; pair <= 3; ++pair) {
                         auto& glasses = quit.world_->startGlasses({.name = "recent" + std::to_string(pair), .media = false});
                         quit.delegate_->recentDeviceStore().saveRecentDevice(glasses.serialNo(), glasses.wlanAddress(),
                                                                             std::nullopt, "Tervo3");
                         glasses.vanish();
                     }
                     quit.delegate_->manualPage().detectDevice();
                     ASSERT_TRUE(quit.delegate_->manualPage().isActionInProgress());
                 }}),
    [](const auto& param) { return param.param.name; });

// Simulated glasses read the enable code from the page's own image and call back; the page
// shows the running mirror and its stop button ends it.
TEST_F(ScanPageE2E, GlassesScanThePageAndItsStopButtonEndsTheMirror) {
    auto& glasses = scannedGlasses();
    ASSERT_FALSE(HasFailure());
    ScanPage& page = scanPage();
    auto* strip = this->strip();
    auto stops = page.findChildren<QPushButton*>("mirrorStopButton");
    stops.removeIf([&](QPushButton* button) { return !button->isVisibleTo(&page); });
    ASSERT_EQ(stops.size(), 1);
    EXPECT_EQ(page.statusDetailLabel()->text(), "1 台设备正在投屏。");
    EXPECT_EQ(glasses.status().value("ssid", ""), "扫码联调网络");  // the code's Wi-Fi reached the glasses
    ASSERT_FALSE(testing::registeredPids(delegate_->service().scrcpyLauncher()).empty());

    QTest::mouseClick(stops[0], Qt::LeftButton);
    ASSERT_TRUE(waitFor([&] { return status() == "投屏已停止"; }, 60000)) << status();
    EXPECT_FALSE(strip->isVisibleTo(&page));
    EXPECT_TRUE(testing::registeredPids(delegate_->service().scrcpyLauncher()).empty());
    // Wireless ADB stays up for debugging (the shared server learns of it in the background).
    EXPECT_TRUE(world_->waitForState(glasses.wifiSerial(), "device", std::chrono::seconds(20)));
}

// Glasses that drop off the Wi-Fi for a moment come back by themselves: the mirror starts again
// without the user, its button never goes away, and the log says so once.
TEST_F(ScanPageE2E, AMirrorWhoseGlassesDropOffComesBackByItself) {
    testing::ScopedEnvironment env;
    env.set("ORVAN_STANDIN_WATCH_MS", "200");  // the window notices its glasses going away
    auto& glasses = scannedGlasses();
    ASSERT_FALSE(HasFailure());
    const pid_t first = testing::registeredPids(delegate_->service().scrcpyLauncher()).begin()->second;
    glasses.control("drop " + glasses.name() + " wifi abrupt");
    bool buttonGone = false;
    auto recovered = [&] {
        buttonGone = buttonGone || !strip()->isVisibleTo(&scanPage());
        auto running = testing::registeredPids(delegate_->service().scrcpyLauncher());
        return log().find("投屏已恢复（") != std::string::npos && running.size() == 1 &&
               running.begin()->second != first;
    };
    ASSERT_TRUE(waitFor(recovered, 120000)) << log();
    EXPECT_FALSE(buttonGone);
    const std::string lines = log();
    EXPECT_EQ(std::ranges::distance(std::views::split(lines, std::string("正在恢复投屏（"))) - 1, 1) << lines;
    EXPECT_EQ(std::ranges::distance(std::views::split(lines, std::string("投屏已恢复（"))) - 1, 1) << lines;
}

// The user stops a mirror whose glasses are away: the recovery ends at once with the user's
// reason, the page keeps its own stop text, and when the glasses answer again nothing starts.
TEST_F(ScanPageE2E, StoppingARecoveringMirrorEndsItForGood) {
    testing::ScopedEnvironment env;
    env.set("ORVAN_STANDIN_WATCH_MS", "200");
    auto& glasses = scannedGlasses();
    ASSERT_FALSE(HasFailure());
    glasses.control("refuse " + glasses.name() + " wifi on");
    glasses.control("drop " + glasses.name() + " wifi abrupt");
    auto& supervisor = delegate_->service().mirrorSupervisor();
    ASSERT_TRUE(waitFor([&] { return !supervisor.recoveringIdentities().empty(); }, 60000)) << log();
    auto stops = scanPage().findChildren<QPushButton*>("mirrorStopButton");
    stops.removeIf([&](QPushButton* button) { return !button->isVisibleTo(&scanPage()); });
    ASSERT_EQ(stops.size(), 1);  // the recovering mirror keeps its button
    QTest::mouseClick(stops[0], Qt::LeftButton);  // the stop runs in the background
    ASSERT_TRUE(waitFor([&] { return supervisor.recoveringIdentities().empty(); })) << log();
    ASSERT_TRUE(waitFor([&] { return status() == "投屏已停止"; }, 60000)) << status();
    glasses.control("refuse " + glasses.name() + " wifi off");
    world_->connectWifi(glasses);  // the glasses answer again: a transport forms on the shared server
    ASSERT_TRUE(world_->waitForState(glasses.wifiSerial(), "device", std::chrono::seconds(20)));
    ASSERT_TRUE(waitFor([&] { return !strip()->isVisibleTo(&scanPage()); }));
    const std::string lines = log();
    EXPECT_EQ(std::ranges::distance(std::views::split(lines, std::string("投屏恢复已停止：用户已停止投屏"))) - 1, 1);
    EXPECT_EQ(lines.find("投屏已恢复（"), std::string::npos);
    EXPECT_TRUE(testing::registeredPids(delegate_->service().scrcpyLauncher()).empty());
    EXPECT_EQ(status(), "投屏已停止");
}

}  // namespace
}  // namespace orvan
