#include <QApplication>
#include <memory>

#include "app/AppDelegate.h"
#include "app/QtMainQueue.h"
#include "platform/Dispatch.h"

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName("OrvanMirror");
    QApplication::setQuitOnLastWindowClosed(true);
    orvan::Dispatch::setMain(std::make_shared<orvan::QtMainQueue>());

    orvan::AppDelegate delegate(orvan::AppDelegate::defaultOptions());
    QObject::connect(&app, &QCoreApplication::aboutToQuit, &delegate, &orvan::AppDelegate::applicationWillTerminate);
    delegate.applicationDidFinishLaunching();
    return QApplication::exec();
}
