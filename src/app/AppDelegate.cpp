#include "app/AppDelegate.h"

#include <QPointer>

#include "app/MainWindow.h"
#include "foundation/MirrorError.h"
#include "platform/Dispatch.h"
#include "platform/Paths.h"

namespace orvan {

AppDelegate::Options AppDelegate::defaultOptions() { return Options{MirrorServiceOptions{}, paths::appStateFolder()}; }

AppDelegate::AppDelegate(Options options)
    : log_(options.logFolder), service_(std::make_unique<MirrorService>(options.service)), window_(std::make_unique<MainWindow>()) {
    QPointer<MainWindow> window = window_.get();
    log_.setScreenSink([window](const std::string& line) {
        Dispatch::main().post([window, text = QString::fromStdString(line)] {
            if (window) window->appendLogLine(text);
        });
    });
    QPointer<AppDelegate> self = this;
    service_->setOnLog([self](const std::string& message) {
        if (self) self->appendLog(message);
    });
    connect(window_.get(), &MainWindow::clearLogsRequested, this, &AppDelegate::clearLogs);
}

AppDelegate::~AppDelegate() {
    service_->setOnLog(nullptr);
    log_.setScreenSink(nullptr);
}

void AppDelegate::appendLog(const std::string& message) { log_.appendLog(message); }

void AppDelegate::clearLogs() {
    window_->clearLogView();
    if (!log_.clearLogFile()) window_->setStatus("日志文件清除失败");
}

void AppDelegate::applicationDidFinishLaunching() {
    window_->show();
    logToolCheck();
    appendLog("Orvan Mirror 原生应用已启动。");
}

void AppDelegate::applicationWillTerminate() {}

void AppDelegate::logToolCheck() {
    try {
        service_->checkTools();
        appendLog("工具目录: " + service_->tools().toolFolder.string());
    } catch (const MirrorError& error) {
        appendLog(error.what());
    }
}

}  // namespace orvan
