// The manual page driven like a user would, against the real adb, simulated glasses and the
// scrcpy stand-in: detect, select, mirror, stop.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QCheckBox>
#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <fstream>
#include <ranges>

#include "app/AppDelegate.h"
#include "app/MainWindow.h"
#include "app/ManualPage.h"
#include "platform/FakeWindowSystem.h"
#include "support/AdbWorld.h"

namespace orvan {
namespace {

using testing::AdbWorld;

class ManualPageE2E : public ::testing::Test {
protected:
    void SetUp() override {
        if (!AdbWorld::available() || !AdbWorld::scrcpyStandinPath())
            GTEST_SKIP() << "adb, the simulator or the stand-in is missing";
        world_ = std::make_unique<AdbWorld>();
        AppDelegate::Options options;
        options.service.tools = ToolLocation::inToolFolder(world_->toolFolder());
        options.service.privatePort = world_->privateServerPort();
        options.service.windows = std::make_shared<FakeWindowSystem>();
        options.callbackPort = 0;
        options.callbackBindAddress = "127.0.0.1";
        options.logFolder = world_->root() / "state";
        options.recentDevicesFolder = world_->root() / "data";
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
    EXPECT_EQ(value("statusValue"), "已连接，可开始投屏。");
    EXPECT_EQ(button("startButton")->text(), "开始无线投屏");

    QTest::mouseClick(button("startButton"), Qt::LeftButton);
    ASSERT_TRUE(waitFor([&] { return tabTitles() == QStringList{"Tervo3 · 投屏中"}; }, 60000))
        << value("statusValue").toStdString() << " / " << page().lastAlertText().toStdString();
    EXPECT_EQ(value("statusValue"), "投屏中");
    EXPECT_EQ(button("startButton")->text(), "停止无线投屏");
    EXPECT_EQ(value("ipValue"), QString::fromStdString(glasses.wlanAddress()));
    EXPECT_TRUE(delegate_->window().audioCheckbox()->toolTip().contains("请先停止全部投屏"));

    QTest::mouseClick(button("startButton"), Qt::LeftButton);
    ASSERT_TRUE(waitFor([&] { return tabTitles() == QStringList{"Tervo3"}; }, 30000));
    EXPECT_EQ(value("statusValue"), "已停止无线投屏，ADB连接保留。");
    EXPECT_EQ(button("startButton")->text(), "开始无线投屏");
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

}  // namespace
}  // namespace orvan
