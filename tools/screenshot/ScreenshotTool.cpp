// Writes screenshots for review on a real X display (scripts/screenshot runs it under Xvfb): the
// scan page's states (password card, waiting, failure, two running mirrors, disable code, the
// choice of a saved network on a cable), the manual page before and during a mirror of a
// simulated USB-attached pair, the export window's
// grid with previews and during an export, and the Wi-Fi setup window with its code.
#include <QApplication>
#include <QLabel>
#include <QLineEdit>
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
#include "app/ScanPage.h"
#include "network/WirelessAdbWifiCredentialStore.h"
#include "shell/WirelessAdbQrController.h"
#include "support/FakeSecretStore.h"
#include "support/FakeWifiSystem.h"
#include "platform/Dispatch.h"
#include "support/AdbWorld.h"

namespace {

bool save(const QString& path) {
    auto* screen = QGuiApplication::primaryScreen();
    bool saved = screen && screen->grabWindow(0).save(path);
    std::printf("%s %s\n", saved ? "wrote" : "could not write", path.toUtf8().constData());
    return saved;
}

// The scan page through its states; the page is driven as the app drives it.
bool saveScanPageStates(orvan::AppDelegate& delegate, const QString& folder) {
    auto& page = *delegate.window().scanPage();
    auto controller = delegate.scanController();
    auto* card = page.findChild<QWidget*>("wifiPasswordCard");
    bool ok = QTest::qWaitFor([&] { return card->isVisible(); }, 20000);
    QTest::qWait(300);
    ok = save(folder + "/scan-page-password.png") && ok;

    QTest::keyClicks(page.findChild<QLineEdit*>("inlineWifiPasswordField"), "demo-pass-123");
    QTest::mouseClick(page.findChild<QPushButton*>("saveWifiPasswordButton"), Qt::LeftButton);
    ok = QTest::qWaitFor([&] { return !page.qrImageView()->pixmap().isNull(); }, 20000) && ok;
    QTest::qWait(300);
    ok = save(folder + "/scan-page-waiting.png") && ok;

    controller->showLocalNetworkFailure("无法访问眼镜 192.168.1.23:5555，请确认电脑与眼镜在同一局域网。");
    ok = QTest::qWaitFor([&] { return page.failureLabel()->isVisible(); }, 5000) && ok;
    QTest::qWait(300);
    ok = save(folder + "/scan-page-failure.png") && ok;

    // Two mirrors as the app lists them (their windows are not needed for the page).
    for (const char* id : {"TV3-0001", "TV3-0002"}) {
        delegate.manualPage().registerActiveMirror(orvan::ConnectedAdbDevice{
            std::string("10.0.0.") + id[7] + ":5555", orvan::connection_kind::kWireless, std::string("10.0.0.") + id[7],
            std::nullopt, "Tervo3", id, false, true});
    }
    ok = QTest::qWaitFor([&] { return page.mirrorStopButton("TV3-0002") != nullptr; }, 5000) && ok;
    QTest::qWait(300);
    ok = save(folder + "/scan-page-running.png") && ok;

    auto* mode = page.findChild<QPushButton*>("disableQrModeButton");
    QTest::mouseClick(mode, Qt::LeftButton);
    QTest::qWait(300);
    ok = save(folder + "/scan-page-disable.png") && ok;
    QTest::mouseClick(mode, Qt::LeftButton);
    for (const char* id : {"TV3-0001", "TV3-0002"}) delegate.manualPage().removeActiveMirror(id);

    // A computer on a cable: the card the page shows with the networks saved in the keyring.
    QTest::qWait(300);
    page.showWifiChoiceState("选择眼镜要连接的 WiFi", {"Classroom-5G", "Lab"});
    QTest::qWait(300);
    ok = save(folder + "/scan-page-cable-choice.png") && ok;
    return ok;
}

bool saveToolWindows(orvan::AppDelegate& delegate, orvan::testing::AdbWorld& world, const QString& folder) {
    delegate.exportMedia();
    auto* exportWindow = delegate.mediaExportWindow();
    if (!exportWindow) return false;
    exportWindow->move(0, 0);
    auto* grid = exportWindow->findChild<QListView*>("mediaGrid");
    auto& media = exportWindow->controller();
    bool listed = QTest::qWaitFor([&] { return !media.isLoadingMediaList() && grid->model()->rowCount() > 0; }, 60000);
    // Every preview pulled; a file Qt cannot read has none.
    listed = QTest::qWaitFor([&] { return media.tasks().running() == 0; }, 60000) && listed;
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
    options.callbackPort = 0;
    options.callbackBindAddress = "127.0.0.1";
    options.logFolder = world.root() / "state";
    options.recentDevicesFolder = world.root() / "data";
    auto wifi = std::make_shared<orvan::FakeWifiSystem>();
    wifi->set("演示网络", "WPA", {"wlan0"});
    options.wifi = wifi;
    options.wifiCredentials =
        std::make_shared<orvan::WirelessAdbWifiCredentialStore>(std::make_shared<orvan::FakeSecretStore>());
    auto delegate = std::make_unique<orvan::AppDelegate>(options);
    delegate->applicationDidFinishLaunching();
    delegate->window().move(700, 0);
    bool scanOk = saveScanPageStates(*delegate, folder);
    delegate->window().showTraditionalConnectionPage();
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
    ok = save(folder + "/manual-page-mirroring.png") && ok && mirroring && scanOk;

    ok = saveToolWindows(*delegate, world, folder) && ok;
    delegate.reset();
    return ok ? 0 : 1;
}
