#include <gtest/gtest.h>
#include <unistd.h>

#include <QLabel>
#include <QPlainTextEdit>
#include <QTest>
#include <filesystem>

#include "app/AppDelegate.h"
#include "app/MainWindow.h"
#include "app/ManualPage.h"
#include "app/TestAppOptions.h"
#include "platform/Clock.h"
#include "shell/DeviceTabs.h"
#include "support/TempDir.h"

namespace orvan {
namespace {

namespace fs = std::filesystem;

class ManualPageViewTest : public ::testing::Test {
protected:
    void SetUp() override {
        delegate_ = std::make_unique<AppDelegate>(testing::appOptions(root_.path(), root_.path() / "tools", 41998));
        delegate_->window().show();
    }
    void TearDown() override { delegate_.reset(); }
    bool logged(const QString& text) {
        return QTest::qWaitFor([&] { return delegate_->window().logView()->toPlainText().contains(text); }, 20000);
    }

    testing::TempDir root_{"orvan-view"};
    FakeClock clock_;  // outlives the app that may use it
    std::unique_ptr<AppDelegate> delegate_;
};

TEST_F(ManualPageViewTest, StrangeDeviceNamesNeverWidenTheWindow) {
    auto& page = *delegate_->window().manualPage();
    std::vector<ConnectedAdbDevice> devices;
    for (const std::string& model : {std::string(), std::string(1000, 'W'), std::string("智能眼镜\n第二行\t\x1b[31m红"),
                                     std::string("Очки-Терво-3-Про-Макс")}) {
        ConnectedAdbDevice device{"S" + std::to_string(devices.size()),
                                  connection_kind::kUsb,
                                  std::nullopt,
                                  std::nullopt,
                                  model,
                                  std::string(300, 'I'),
                                  true,
                                  false};
        devices.push_back(device);
    }
    std::vector<DeviceTab> tabs;
    for (const auto& device : devices) tabs.push_back({tabTitle(device, true), tabTooltip(device)});
    page.renderTabs(tabs, 1);
    page.showStatusRows(
        StatusRows{"USB ADB 已连接", std::string(1000, 'M'), std::string(1000, 'I'), "\x07Wi\nFi", "-", "检测到眼镜 T3A01：\r\nSUBSYSTEM==\"usb\"\t\n然后"});
    QCoreApplication::sendPostedEvents();  // the layout requests the new texts posted
    QCoreApplication::processEvents();
    EXPECT_LE(delegate_->window().width(), MainWindow::kWidth);
    EXPECT_LE(page.findChild<QWidget*>("deviceTabs")->width(), ManualPage::kContentWidth);
    auto* model = page.findChild<QLabel*>("modelValue");
    EXPECT_FALSE(model->text().contains('\n'));
    EXPECT_EQ(page.findChild<QLabel*>("computerWifiNameValue")->text(), " Wi Fi");
    EXPECT_EQ(page.findChild<QLabel*>("statusValue")->text(), "检测到眼镜 T3A01：\nSUBSYSTEM==\"usb\" \n然后");
}

TEST_F(ManualPageViewTest, OnlyALongAbsenceResetsTheBreakerAndRefreshes) {
    // The absence is measured on the app's clock.
    delegate_.reset();
    auto options = testing::appOptions(root_.path(), root_.path() / "tools", 41998);
    options.service.clock = &clock_;
    delegate_ = std::make_unique<AppDelegate>(options);
    for (int seconds : {59, 60}) {
        delegate_->applicationWillResignActive();
        clock_.advance(std::chrono::seconds(seconds));
        delegate_->applicationDidBecomeActive();
    }
    ASSERT_TRUE(logged("检测到应用从长时间后台恢复，正在刷新扫码投屏基础状态。"));
    EXPECT_EQ(delegate_->window().logView()->toPlainText().count("长时间后台恢复，正在刷新"), 1);
    EXPECT_TRUE(logged("已重置投屏专用 41998 健康状态: 应用从长时间后台恢复"));

    delegate_->workspaceDidWake();
    EXPECT_TRUE(logged("检测到系统睡眠唤醒，正在刷新扫码投屏基础状态。"));
    EXPECT_TRUE(logged("已重置投屏专用 41998 健康状态: 系统睡眠唤醒"));
}

}  // namespace
}  // namespace orvan
