#include <gtest/gtest.h>
#include <unistd.h>

#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>
#include <filesystem>
#include <fstream>
#include <thread>

#include "app/AppDelegate.h"
#include "app/MainWindow.h"
#include "app/ManualPage.h"
#include "app/TestAppOptions.h"
#include "support/TempDir.h"

namespace orvan {
namespace {

namespace fs = std::filesystem;

class AppShellTest : public ::testing::Test {
protected:
    void SetUp() override {
        fs::create_directories(root_ / "tools");
        delegate_ = std::make_unique<AppDelegate>(testing::appOptions(root_.path(), root_.path() / "tools", 41999));
    }
    void TearDown() override { delegate_.reset(); }

    QPushButton* button(const char* name) { return delegate_->window().findChild<QPushButton*>(name); }
    QString logText() { return delegate_->window().logView()->toPlainText(); }
    bool waitForLog(const QString& text) {
        return QTest::qWaitFor([&] { return logText().contains(text); }, 20000);
    }

    testing::TempDir root_{"orvan-app"};
    std::unique_ptr<AppDelegate> delegate_;
};

TEST_F(AppShellTest, ReportsMissingToolsAtLaunch) {
    delegate_->applicationDidFinishLaunching();
    ASSERT_TRUE(waitForLog("缺少工具文件: " + QString::fromStdString((root_ / "tools" / "adb").string())));
    EXPECT_TRUE(waitForLog("Orvan Mirror 原生应用已启动。"));
}

TEST_F(AppShellTest, LinesLoggedFromAnyThreadReachTheViewInOrder) {
    std::thread worker([this] {
        for (int i = 0; i < 50; ++i) delegate_->service().log()->operator()("worker " + std::to_string(i));
    });
    worker.join();
    ASSERT_TRUE(waitForLog("worker 49"));
    auto lines = logText().split('\n');
    ASSERT_EQ(lines.size(), 50);
    for (int i = 0; i < 50; ++i) EXPECT_TRUE(lines[i].endsWith(QString(" worker %1").arg(i))) << lines[i].toStdString();
}

TEST_F(AppShellTest, ClearingEmptiesViewAndFileAndReportsAFailedWrite) {
    delegate_->appendLog("before");
    ASSERT_TRUE(waitForLog("before"));
    QTest::mouseClick(button("clearLogs"), Qt::LeftButton);
    EXPECT_TRUE(logText().isEmpty());
    EXPECT_EQ(fs::file_size(delegate_->activityLog().file()), 0u);

    fs::remove_all(root_ / "logs");  // the folder is gone: the clear cannot write
    QTest::mouseClick(button("clearLogs"), Qt::LeftButton);
    auto* status = delegate_->window().findChild<QLabel*>("statusValue");
    EXPECT_EQ(status->text(), "日志文件清除失败");
}

TEST_F(AppShellTest, ExportWithoutOnlineGlassesSaysWhyAndOpensNothing) {
    delegate_->manualPage().loadRecentDevices();
    auto* entry = delegate_->window().exportMediaButton();
    EXPECT_FALSE(entry->isEnabled());
    EXPECT_EQ(entry->toolTip(), "请先连接并选择一个当前在线的设备页签");
    delegate_->exportMedia();
    EXPECT_EQ(delegate_->window().manualPage()->lastAlertText(), "操作失败\n未检测到当前在线的 ADB 设备，请先连接并选择 Tervo3。");
    EXPECT_EQ(delegate_->mediaExportWindow(), nullptr);
}

}  // namespace
}  // namespace orvan
