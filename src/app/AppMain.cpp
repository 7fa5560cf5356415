#include "app/AppMain.h"

#include <QApplication>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <thread>

#include "app/MainWindow.h"
#include "app/QtMainQueue.h"
#include "app/SingleInstance.h"
#include "app/TerminationSignals.h"
#include "platform/Dispatch.h"
#include "platform/DisplaySession.h"

namespace orvan {

namespace {

AppDelegate* gRunningDelegate = nullptr;
std::thread::id gMainThread;

// Qt ends the process with exit() when the X11 or Wayland connection breaks (the session went
// away under us). The stack is still alive then, so the termination sequence can run here.
void terminateOnExit() {
    if (gRunningDelegate && std::this_thread::get_id() == gMainThread) {
        gRunningDelegate->requestTermination("与桌面显示的连接已断开");
        gRunningDelegate->noteDisplayLost();
        gRunningDelegate->applicationWillTerminate();
    }
}

}  // namespace

int runApplication(int argc, char** argv, const AppHooks& hooks) {
    preferX11UnderWayland();
    QApplication app(argc, argv);
    QApplication::setApplicationName("OrvanMirror");
    QApplication::setDesktopFileName("orvan-mirror");
    QApplication::setQuitOnLastWindowClosed(true);
    TerminationSignals terminationSignals;

    SingleInstance instance;
    switch (instance.claim()) {
        case SingleInstance::Role::primary:
            break;
        case SingleInstance::Role::secondary:
            return 0;
        case SingleInstance::Role::unreachable:
            std::fprintf(stderr, "orvan-mirror: another instance holds %s but does not answer\n",
                         qPrintable(instance.socketPath()));
            return 1;
    }

    Dispatch::setMain(std::make_shared<QtMainQueue>());
    auto options = AppDelegate::defaultOptions();
    if (hooks.adjustOptions) hooks.adjustOptions(options);
    AppDelegate delegate(options);

    QObject::connect(&terminationSignals, &TerminationSignals::received, &delegate, [&delegate](int signal) {
        delegate.requestTermination("收到信号 " + TerminationSignals::name(signal).toStdString());
        QCoreApplication::quit();
    });
    QObject::connect(&app, &QGuiApplication::lastWindowClosed, &delegate, [&delegate] { delegate.noteWindowClosed(); });
#ifndef QT_NO_SESSIONMANAGER
    // The session manager asks before it ends the session; its quit follows as an ordinary one.
    QObject::connect(&app, &QGuiApplication::commitDataRequest, &delegate,
                     [&delegate](QSessionManager&) { delegate.requestTermination("桌面会话结束"); });
#endif
    QObject::connect(&instance, &SingleInstance::showRequested, &delegate, &AppDelegate::showWindowOnRequest);
    // Connected first, so that it runs before the termination serves events again.
    QObject::connect(&app, &QCoreApplication::aboutToQuit, &instance, &SingleInstance::stopAnswering);
    QObject::connect(&app, &QCoreApplication::aboutToQuit, &delegate, &AppDelegate::applicationWillTerminate);

    gMainThread = std::this_thread::get_id();
    gRunningDelegate = &delegate;
    static bool registered = std::atexit(terminateOnExit) == 0;
    (void)registered;

    delegate.applicationDidFinishLaunching();
    if (hooks.afterLaunch) hooks.afterLaunch(delegate);
    int status = QApplication::exec();
    gRunningDelegate = nullptr;
    return status;
}

}  // namespace orvan
