// The export window driven headlessly: what it shows and what a click does.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QImage>
#include <QLabel>
#include <QListView>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>

#include "app/MediaExportWindow.h"
#include "media/MediaFiles.h"
#include "support/FakeAdb.h"
#include "support/ScopedEnvironment.h"

namespace orvan {
namespace {

bool idle(const std::function<bool()>& condition) { return QTest::qWaitFor(condition, 20000); }

TEST(MediaExportWindow, ShowsPreviewsSelectsAndExportsWithProgress) {
    testing::TempDir cache("orvan-cache"), target("orvan-export");
    testing::ScopedEnvironment environment;
    environment.set("XDG_CACHE_HOME", cache.path().string());
    const std::string serial = "GLASS01", photo = "/sdcard/DCIM/Camera/a.jpg";
    testing::FakeAdb adb;
    adb.on({"devices"}).reply("List of devices attached\nGLASS01\tdevice\n");
    adb.on({"-s", serial, "shell", "ls", "-la", "'/sdcard/DCIM/Camera/'"})
        .reply("-rw-rw---- 1 u g 7 2024-05-01 10:00 a.jpg\n-rw-rw---- 1 u g 9 2024-05-01 10:01 b.mp4\n");
    adb.on({"-s", serial, "shell", "ls", "-la", "*"}).reply("ls: No such file or directory\n", 1);
    adb.on({"-s", serial, "pull", "**"}).reply("1 file pulled.");
    // The preview is in the cache already: the window reads it instead of pulling.
    QImage picture(40, 30, QImage::Format_RGB32);
    picture.fill(Qt::darkCyan);
    ASSERT_TRUE(picture.save(QString::fromStdString((mediaThumbnailCacheDirectory() /
                                                     previewCacheFileName(serial, photo)).string()), "PNG"));

    AdbRunner runner(adb.adbPath(), 16073, nullptr);
    ToolLocation tools = adb.tools();
    DeviceDiscovery discovery(runner, tools);
    auto browser = std::make_shared<MediaBrowser>(runner, discovery);
    MediaExportWindow window(browser, std::make_shared<MediaExporter>(*browser, SystemClock::shared()));
    auto* exportButton = window.findChild<QPushButton*>("exportSelectedButton");
    auto* status = window.findChild<QLabel*>("statusLabel");
    window.setFolderChooser([&](const QString& title) {
        EXPECT_EQ(title, "选择照片和视频导出到电脑的保存位置");
        window.controller().exportSelectedMedia();  // a second click while the chooser is open
        EXPECT_EQ(status->text(), "正在选择保存位置，请完成当前操作。");
        return std::optional(target.path());
    });
    auto* selectAll = window.findChild<QCheckBox*>("selectAllCheckbox");
    auto* grid = window.findChild<QListView*>("mediaGrid");
    window.present(serial);
    ASSERT_TRUE(idle([&] { return !grid->model()->index(0, 0).data(Qt::UserRole + 4).isNull(); }));
    EXPECT_EQ(grid->model()->rowCount(), 2);
    EXPECT_EQ(status->text(), "默认媒体目录：共 2 项。点击目录进入，多选照片/视频后导出。");

    QTest::mouseClick(grid->viewport(), Qt::LeftButton, {}, grid->visualRect(grid->model()->index(0, 0)).center());
    EXPECT_EQ(selectAll->checkState(), Qt::PartiallyChecked);
    EXPECT_EQ(status->text(), "默认媒体目录：共 2 项，已选 1 个文件。点击目录进入，可继续选择或导出。");
    QTest::mouseClick(exportButton, Qt::LeftButton);
    EXPECT_TRUE(window.findChild<QProgressBar*>("exportProgress")->isVisible());
    EXPECT_FALSE(exportButton->isEnabled());
    window.controller().exportSelectedMedia();
    EXPECT_EQ(status->text(), "正在导出选中文件，请勿重复操作。");
    ASSERT_TRUE(idle([&] { return window.findChild<QMessageBox*>("mediaExportAlert") != nullptr; }));
    EXPECT_EQ(window.lastAlertText(), "导出照片/视频\n导出完成，共 1 个文件。");
    EXPECT_FALSE(window.findChild<QProgressBar*>("exportProgress")->isVisible());
    window.findChild<QMessageBox*>("mediaExportAlert")->accept();
    EXPECT_TRUE(window.controller().isLoadingMediaList());  // the list is read again
    ASSERT_TRUE(idle([&] { return !window.controller().isLoadingMediaList(); }));
    // The preview runs have returned before the fake adb goes.
    EXPECT_TRUE(QTest::qWaitFor([&] { return window.controller().tasks().running() == 0; }, 60000));
}

}  // namespace
}  // namespace orvan
