// Glasses that adb lists but cannot use: the page says why, once, and stops when they work.
#include <gtest/gtest.h>

#include <QLabel>
#include <QTest>
#include <fstream>

#include "app/AppDelegate.h"
#include "app/MainWindow.h"
#include "app/ManualPage.h"
#include "platform/FakeWindowSystem.h"
#include "support/AdbWorld.h"

namespace orvan {
namespace {

TEST(ManualPageDiagnosisE2E, UnauthorizedGlassesAreExplainedOnceUntilTheyAreAllowed) {
    if (!testing::AdbWorld::available()) GTEST_SKIP() << "adb or the simulator is missing";
    testing::AdbWorld world;
    auto& glasses =
        world.startGlasses({.name = "locked", .auth = "key", .trustWorldKey = false, .usb = true, .media = false});
    world.registerUsb(glasses, "unauthorized");

    AppDelegate::Options options;
    options.service.tools = ToolLocation::inToolFolder(world.toolFolder());
    options.service.privatePort = world.privateServerPort();
    options.service.windows = std::make_shared<FakeWindowSystem>();
    options.logFolder = world.root() / "state";
    options.recentDevicesFolder = world.root() / "data";
    AppDelegate delegate(options);
    auto& page = delegate.manualPage();
    auto status = [&] { return delegate.window().manualPage()->findChild<QLabel*>("statusValue")->text(); };
    auto refreshOnce = [&] {
        page.refreshDevicesSilently(false);
        return QTest::qWaitFor([&] { return !page.isRefreshInProgress(); }, 30000);
    };
    auto timesLogged = [&](const std::string& text) {
        std::ifstream file(delegate.activityLog().file());
        size_t count = 0;
        for (std::string line; std::getline(file, line);) count += line.find(text) != std::string::npos;
        return count;
    };

    const std::string unauthorized = "尚未授权本电脑进行 USB 调试";
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return refreshOnce() && status().contains(QString::fromStdString(unauthorized)); }, 30000))
        << status().toStdString();
    ASSERT_TRUE(refreshOnce() && refreshOnce());
    EXPECT_EQ(timesLogged(unauthorized), 1u);

    glasses.acceptAuthorization();
    ASSERT_TRUE(QTest::qWaitFor([&] { return refreshOnce() && !page.diagnosis(); }, 30000));
    EXPECT_FALSE(status().contains(QString::fromStdString(unauthorized))) << status().toStdString();
    EXPECT_EQ(timesLogged(unauthorized), 1u);
}

}  // namespace
}  // namespace orvan
