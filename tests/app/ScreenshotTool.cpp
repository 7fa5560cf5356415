// Writes screenshots for review, on a real X display (scripts/screenshot runs it under Xvfb): the
// manual page before and during a mirror of a simulated USB-attached pair, the export window's
// grid with previews and during an export, and the Wi-Fi setup window with its code.
#include <QApplication>
#include <QListView>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QTest>
#include <cstdio>
#include <filesystem>
#include <memory>

#include "app/AppDelegate.h"
#include "app/MainWindow.h"
#include "app/ManualPage.h"
#include "app/MediaExportWindow.h"
#include "app/WifiSetupWindow.h"
#include "app/QtMainQueue.h"
#include "platform/Dispatch.h"
#include "support/AdbWorld.h"

namespace {

bool save(const QString& path) {
    auto* screen = QGuiApplication::primaryScreen();
    bool saved = screen && screen->grabWindow(0).save(path);
    std::printf("%s %s\n", saved ? "wrote" : "could not write", path.toUtf8().constData());
    return saved;
}

bool saveToolWindows(orvan::AppDelegate& delegate, orvan::testing::AdbWorld& world, const QString& folder) {
    delegate.exportMedia();
    auto* exportWindow = delegate.mediaExportWindow();
    if (!exportWindow) return false;
    exportWindow->move(0, 0);
    auto* grid = exportWindow->findChild<QListView*>("mediaGrid");
    auto& media = exportWindow->controller();
    bool listed = QTest::qWaitFor([&] { return !media.isLoadingMediaList() && grid->model()->rowCount() > 0; }, 60000);
    orvan::MediaExportController::waitForPreviewRuns();  // every preview pulled; a file Qt cannot read has none
    QTest::qWait(300);
    bool ok = save(folder + "/export-grid.png") && listed;

    std::filesystem::create_directories(world.root() / "export");
    exportWindow->setFolderChooser([&](const QString&) { return std::optional(world.root() / "export"); });
    media.toggleSelectAll(true);
    media.exportSelectedMedia();
    QTest::qWait(400);
    ok = save(folder + "/export-progress.png") && ok;
    bool exported = QTest::qWaitFor([&] { return !media.isExporting(); }, 120000);
    QTest::qWait(300);
    ok = save(folder + "/export-done.png") && ok && exported;
    if (auto* alert = exportWindow->findChild<QMessageBox*>("mediaExportAlert")) alert->accept();
    ok = QTest::qWaitFor([&] { return !media.isLoadingMediaList(); }, 60000) && ok;
    exportWindow->hide();

    delegate.showWifiSetup();
    auto* wifi = delegate.wifiSetupWindow();
    wifi->move(0, 0);
    ok = QTest::qWaitFor([&] { return !wifi->controller().isWaiting(); }, 20000) && ok;
    wifi->controller().ssidChanged("OrvanLab");
    wifi->controller().passwordChanged("lab-password");
    wifi->controller().generateWifiQrCode();
    bool generated = QTest::qWaitFor([&] { return !wifi->controller().isWaiting(); }, 30000);
    QTest::qWait(300);
    if (!listed || !exported || !generated) std::fprintf(stderr, "screenshot: the export or Wi-Fi window did not settle\n");
    return save(folder + "/wifi-setup.png") && ok && generated;
}

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QString folder = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QString(".");
    orvan::Dispatch::setMain(std::make_shared<orvan::QtMainQueue>());
    if (!orvan::testing::AdbWorld::available() || !orvan::testing::AdbWorld::scrcpyStandinPath()) {
        std::fprintf(stderr, "screenshot: adb, the simulator or the scrcpy stand-in is missing\n");
        return 1;
    }
    orvan::testing::AdbWorld world;
    orvan::testing::GlassesOptions glassesOptions;
    glassesOptions.usb = true;
    auto& glasses = world.startGlasses(glassesOptions);
    world.registerUsb(glasses);

    orvan::AppDelegate::Options options;
    options.service.tools = orvan::ToolLocation::inToolFolder(world.toolFolder());
    options.service.privatePort = world.privateServerPort();
    options.logFolder = world.root() / "state";
    options.recentDevicesFolder = world.root() / "data";
    auto delegate = std::make_unique<orvan::AppDelegate>(options);
    delegate->applicationDidFinishLaunching();
    delegate->window().move(700, 0);
    delegate->window().setLogPanelVisible(true);
    auto* page = delegate->window().manualPage();
    auto* detect = page->findChild<QPushButton*>("detectButton");
    auto* start = page->findChild<QPushButton*>("startButton");

    QTest::qWait(1500);
    QTest::mouseClick(detect, Qt::LeftButton);
    bool detected = QTest::qWaitFor(
        [&] { return !page->findChildren<QPushButton*>("deviceTab").isEmpty() && detect->isEnabled(); }, 30000);
    QTest::qWait(300);
    bool ok = save(folder + "/manual-page-detected.png") && detected;

    QTest::mouseClick(start, Qt::LeftButton);
    bool mirroring = QTest::qWaitFor([&] { return start->text() == "停止无线投屏"; }, 60000);
    QTest::qWait(800);
    ok = save(folder + "/manual-page-mirroring.png") && ok && mirroring;

    ok = saveToolWindows(*delegate, world, folder) && ok;
    delegate.reset();
    return ok ? 0 : 1;
}
