// The scan page end to end: simulated glasses read the enable code from the page's own image,
// call back, and the real adb and the scrcpy stand-in bring up a mirror the page can stop.
#include <gtest/gtest.h>

#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollArea>
#include <QTest>

#include "app/AppDelegate.h"
#include "app/MainWindow.h"
#include "app/ScanPage.h"
#include "network/WirelessAdbWifiCredentialStore.h"
#include "platform/FakeSecretStore.h"
#include "platform/FakeWifiSystem.h"
#include "platform/FakeWindowSystem.h"
#include "support/AdbWorld.h"

namespace orvan {
namespace {

using testing::AdbWorld;

TEST(ScanPageE2E, GlassesScanThePageAndItsStopButtonEndsTheMirror) {
    if (!AdbWorld::available() || !AdbWorld::scrcpyStandinPath())
        GTEST_SKIP() << "adb, the simulator or the stand-in is missing";
    AdbWorld world;
    auto& glasses = world.startGlasses({.name = "scanpair", .media = false});
    auto wifi = std::make_shared<FakeWifiSystem>();
    wifi->set("扫码联调网络", "WPA", {"wlan-e2e"});
    auto credentials = std::make_shared<WirelessAdbWifiCredentialStore>(std::make_shared<FakeSecretStore>());
    credentials->save({.ssid = "扫码联调网络", .password = "scan-e2e-pass", .securityType = "WPA"});

    AppDelegate::Options options;
    options.service.tools = ToolLocation::inToolFolder(world.toolFolder());
    options.service.privatePort = world.privateServerPort();
    options.service.windows = std::make_shared<FakeWindowSystem>();
    options.logFolder = world.root() / "state";
    options.recentDevicesFolder = world.root() / "data";
    options.callbackPort = 0;
    options.callbackBindAddress = "127.0.0.1";
    options.wifi = wifi;
    options.wifiCredentials = credentials;
    auto delegate = std::make_unique<AppDelegate>(options);
    delegate->applicationDidFinishLaunching();
    ScanPage& page = *delegate->window().scanPage();
    auto status = [&] { return page.statusTitleLabel()->text().toStdString(); };
    auto log = [&] { return delegate->window().logView()->toPlainText(); };
    ASSERT_TRUE(QTest::qWaitFor([&] { return !page.qrImageView()->pixmap().isNull(); }, 30000)) << status();
    EXPECT_EQ(status(), "等待眼镜扫码...");

    const std::string png = (world.root() / "enable-code.png").string();
    ASSERT_TRUE(page.qrImageView()->pixmap().save(QString::fromStdString(png)));
    glasses.control("scan-png " + glasses.name() + " " + png);

    auto* strip = page.findChild<QScrollArea*>("activeMirrorButtonsScrollView");
    ASSERT_TRUE(QTest::qWaitFor([&] { return strip->isVisibleTo(&page) && status() == "投屏已启动"; }, 90000))
        << status() << " / " << log().toStdString();
    auto stops = page.findChildren<QPushButton*>("mirrorStopButton");
    stops.removeIf([&](QPushButton* button) { return !button->isVisibleTo(&page); });
    ASSERT_EQ(stops.size(), 1);
    EXPECT_TRUE(stops[0]->text().startsWith("停止投屏（"));
    EXPECT_EQ(page.statusDetailLabel()->text(), "1 台设备正在投屏。");
    ASSERT_FALSE(delegate->service().scrcpyLauncher().registrySnapshot().processes.empty());

    QTest::mouseClick(stops[0], Qt::LeftButton);
    ASSERT_TRUE(QTest::qWaitFor([&] { return status() == "投屏已停止"; }, 60000)) << status();
    EXPECT_FALSE(strip->isVisibleTo(&page));
    EXPECT_TRUE(log().contains("，无线 ADB 连接保留。"));
    EXPECT_TRUE(delegate->service().scrcpyLauncher().registrySnapshot().processes.empty());
    // Wireless ADB stays up for debugging (the shared server learns of it in the background).
    EXPECT_TRUE(world.waitForState(glasses.wifiSerial(), "device", std::chrono::seconds(20)));
}

}  // namespace
}  // namespace orvan
