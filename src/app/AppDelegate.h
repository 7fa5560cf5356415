#pragma once

#include <QObject>
#include <QTimer>
#include <chrono>
#include <map>
#include <memory>
#include <optional>

#include "adb/AdbAuthorizationKey.h"
#include "adb/RecentDeviceStore.h"
#include "foundation/ActivityLog.h"
#include "mirror/MirrorService.h"
#include "pairing/ScanConnectionEngine.h"
#include "pairing/ScanMirrorTask.h"
#include "pairing/ScanSessionCoordinator.h"
#include "shell/ManualPageController.h"

namespace orvan {

class GlassShellOverlayWindow;
class MainWindow;
class MediaBrowser;
class MediaExporter;
class MediaExportWindow;
class WifiSetupWindow;
class SleepWatcher;

// Lifecycle and wiring: owns the service, the recent-device store, the activity log and the main
// window, connects the service's callbacks to the window and drives the periodic refresh. The
// rules live in the components it wires.
class AppDelegate : public QObject {
    Q_OBJECT

public:
    static constexpr int kRefreshIntervalMs = 1000;
    static constexpr auto kLongAbsence = std::chrono::seconds(60);
    static constexpr auto kMirrorEndGrace = std::chrono::seconds(3);

    struct Options {
        MirrorServiceOptions service;
        std::filesystem::path logFolder;
        std::filesystem::path recentDevicesFolder;
        // The manual page's backend; none: the service itself.
        std::shared_ptr<ManualPageBackend> backend;
    };
    static Options defaultOptions();

    explicit AppDelegate(Options options);
    ~AppDelegate() override;

    void applicationDidFinishLaunching();
    void applicationWillResignActive();
    void applicationDidBecomeActive();
    void workspaceDidWake();
    void applicationWillTerminate();
    // Records how the app was asked to end, for the termination's log line. A quit closes the
    // window too, so the window's own reason never replaces one given before.
    void requestTermination(const std::string& reason) { terminationReason_ = reason; }
    void noteWindowClosed() {
        if (!terminationReason_) terminationReason_ = "主窗口已关闭";
    }
    // Another launch asked this instance to come forward.
    void showWindowOnRequest();

    void appendLog(const std::string& message);
    void clearLogs();

    MirrorService& service() { return *service_; }
    MainWindow& window() { return *window_; }
    ActivityLog& activityLog() { return log_; }
    ManualPageController& manualPage() { return *manualPage_; }
    RecentDeviceStore& recentDeviceStore() { return store_; }
    // The scan-mode callbacks and their connection tasks; the scan page hands the coordinator
    // its callbacks and session changes.
    ScanSessionCoordinator& scanSession() { return *scanSession_; }
    const std::map<pid_t, GlassShellOverlayWindow*>& glassShellOverlays() const { return overlays_; }
    // exportMedia: opens the export window (created on first use) on the export target's glasses,
    // or says why there are none.
    void exportMedia();
    // showWifiSetup: the Wi-Fi setup window (created on first use), refilled and in front.
    void showWifiSetup();
    MediaExportWindow* mediaExportWindow() const { return mediaExportWindow_.get(); }
    WifiSetupWindow* wifiSetupWindow() const { return wifiSetupWindow_.get(); }
    // Lets a test pretend the app lost focus at a given time.
    void setInactiveSince(std::chrono::steady_clock::time_point when) { inactiveSince_ = when; }

private:
    void logToolCheck();
    void awaitMirrorsEnded();
    void refreshAfterAbsence(const std::string& reason);
    void setUpScanSession();
    void openGlassShellOverlay(pid_t pid);
    void closeGlassShellOverlay(pid_t pid);

    ActivityLog log_;
    RecentDeviceStore store_;
    std::shared_ptr<WindowSystem> windows_;
    std::unique_ptr<MirrorService> service_;
    std::unique_ptr<MainWindow> window_;
    std::shared_ptr<ManualPageController> manualPage_;
    std::unique_ptr<AdbAuthorizationKey> adbKey_;
    std::unique_ptr<MirrorServiceScanEngine> scanEngine_;
    std::unique_ptr<ScanSessionCoordinator> scanSession_;
    std::shared_ptr<ScanMirrorTask> scanTask_;
    SleepWatcher* sleepWatcher_;
    QTimer refreshTimer_;
    std::optional<std::chrono::steady_clock::time_point> inactiveSince_;
    std::map<pid_t, GlassShellOverlayWindow*> overlays_;
    bool terminated_ = false;
    std::optional<std::string> terminationReason_;

    // The export and Wi-Fi setup windows, made on first use and kept (hidden) when closed.
    void connectToolWindowEntries();
    std::shared_ptr<MediaBrowser> mediaBrowser_;
    std::shared_ptr<MediaExporter> mediaExporter_;
    std::unique_ptr<MediaExportWindow> mediaExportWindow_;
    std::unique_ptr<WifiSetupWindow> wifiSetupWindow_;
};

}  // namespace orvan
