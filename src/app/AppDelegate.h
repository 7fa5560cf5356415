#pragma once

#include <QObject>
#include <memory>

#include "foundation/ActivityLog.h"
#include "mirror/MirrorService.h"

namespace orvan {

class MainWindow;

// Lifecycle and wiring: owns the service, the activity log and the main window, and connects
// the service's callbacks to the window. The logic lives in the components it wires.
class AppDelegate : public QObject {
    Q_OBJECT

public:
    struct Options {
        MirrorServiceOptions service;
        std::filesystem::path logFolder;
    };
    static Options defaultOptions();

    explicit AppDelegate(Options options);
    ~AppDelegate() override;

    void applicationDidFinishLaunching();
    void applicationWillTerminate();

    void appendLog(const std::string& message);
    void clearLogs();

    MirrorService& service() { return *service_; }
    MainWindow& window() { return *window_; }
    ActivityLog& activityLog() { return log_; }

private:
    void logToolCheck();

    ActivityLog log_;
    std::unique_ptr<MirrorService> service_;
    std::unique_ptr<MainWindow> window_;
};

}  // namespace orvan
