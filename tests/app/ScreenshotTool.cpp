// Writes screenshots of the manual page for review: before and during a mirror of a simulated
// USB-attached pair, on a real X display (scripts/screenshot runs it under Xvfb).
#include <QApplication>
#include <QPushButton>
#include <QScreen>
#include <QTest>
#include <cstdio>
#include <memory>

#include "app/AppDelegate.h"
#include "app/MainWindow.h"
#include "app/ManualPage.h"
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
    delegate.reset();
    return ok ? 0 : 1;
}
