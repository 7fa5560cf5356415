#pragma once

#include <QObject>
#include <QTimer>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>

#include "adb/RecentDeviceStore.h"
#include "platform/LocationProvider.h"
#include "foundation/ActivityLog.h"
#include "mirror/MirrorService.h"
#include "pairing/ScanSessionCoordinator.h"
#include "platform/TaskScope.h"
#include "shell/ManualPageController.h"

namespace orvan {

class ComputerNetworkWatcher;
class ComputerWifiName;
class GlassShellOverlayWindow;
class LocalNetworkPermission;
class ScanPageAssembly;
class WifiNameAuthorization;
class WifiSystem;
class WirelessAdbQrController;
class WirelessAdbWifiCredentialStore;
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
    static constexpr auto kMirrorEndGrace = MirrorService::kMirrorEndGrace;
    // After every adb command was ended, for work stuck in a call no stop reaches.
    static constexpr auto kStuckWorkGrace = std::chrono::seconds(5);

    struct Options {
        MirrorServiceOptions service;
        std::filesystem::path logFolder;
        std::filesystem::path recentDevicesFolder;
        // The manual page's backend; none: the service itself.
        std::shared_ptr<ManualPageBackend> backend;
        // The scan page's callback server: the first free port from here on, bound to this
        // address (tests: a loopback address and a port of their own).
        int callbackPort = 18080;
        std::string callbackBindAddress = "0.0.0.0";
        // The computer's Wi-Fi and the keyring of Wi-Fi passwords; none: the system's.
        std::shared_ptr<WifiSystem> wifi;
        std::shared_ptr<WirelessAdbWifiCredentialStore> wifiCredentials;
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
    // Qt is ending the process because the display connection broke: the termination that follows
    // cannot serve events.
    void noteDisplayLost() { displayLost_ = true; }
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
    RecentDeviceStore& recentDeviceStore() { return *store_; }
    // The scan-mode callbacks and their connection tasks; the scan page hands the coordinator
    // its callbacks and session changes.
    ScanSessionCoordinator& scanSession();
    // The scan page's controller, made with the delegate.
    std::shared_ptr<WirelessAdbQrController> scanController() const;
    bool hasStartedWirelessAdbQrController() const { return hasStartedWirelessAdbQrController_; }
    // The scan page's stop button: that mirror stops, wireless ADB stays.
    void stopMirroringSession(const std::string& key, std::function<void(bool stopped)> done = {});
    // exportMedia: opens the export window (created on first use) on the export target's glasses,
    // or says why there are none.
    void exportMedia();
    // showWifiSetup: the Wi-Fi setup window (created on first use), refilled and in front.
    void showWifiSetup();
    MediaExportWindow* mediaExportWindow() const { return mediaExportWindow_.get(); }
    WifiSetupWindow* wifiSetupWindow() const { return wifiSetupWindow_.get(); }

private:
    void logToolCheck();
    void awaitTermination(const std::function<bool()>& finished);
    // Whether the background work of every owner has returned.
    bool backgroundWorkEnded() const;
    void refreshAfterAbsence(const std::string& reason);
    // The scan page: its controller and the Wi-Fi and network sources behind it.
    void setUpScanPage(const Options& options);
    void startScanPage();
    void checkComputerNetworkChange(bool setBaselineOnly);
    void refreshScanEnableQrIfShowingEnable();
    void openGlassShellOverlay(pid_t pid);
    void closeGlassShellOverlay(pid_t pid);

    ActivityLog log_;
    std::shared_ptr<RecentDeviceStore> store_;
    std::shared_ptr<WindowSystem> windows_;
    std::unique_ptr<MirrorService> service_;
    std::unique_ptr<MainWindow> window_;
    std::shared_ptr<ManualPageController> manualPage_;
    // The scan page's controller, callback coordinator, connection tasks and disable processor.
    std::unique_ptr<ScanPageAssembly> scanPage_;
    SleepWatcher* sleepWatcher_;
    QTimer refreshTimer_;
    std::optional<std::chrono::steady_clock::time_point> inactiveSince_;
    std::map<pid_t, GlassShellOverlayWindow*> overlays_;
    // Scan page.
    struct WifiInterfaceCache;
    LinuxLocationProvider location_;
    std::shared_ptr<ComputerWifiName> computerWifi_;
    std::shared_ptr<WirelessAdbWifiCredentialStore> wifiCredentials_;
    std::shared_ptr<WifiInterfaceCache> wifiInterfaces_;
    std::shared_ptr<ComputerNetworkWatcher> networkWatcher_;
    std::shared_ptr<WifiNameAuthorization> wifiAuthorization_;
    std::shared_ptr<LocalNetworkPermission> localNetworkPermission_;
    uint64_t wifiProfileObserver_ = 0;
    bool hasStartedWirelessAdbQrController_ = false;
    bool terminated_ = false;
    bool displayLost_ = false;
    std::optional<std::string> terminationReason_;
    // The app's own background work (the launch checks, the quit's wait for the mirrors).
    TaskScope tasks_;

    // The export and Wi-Fi setup windows, made on first use and kept (hidden) when closed.
    void connectToolWindowEntries();
    std::shared_ptr<MediaBrowser> mediaBrowser_;
    std::shared_ptr<MediaExporter> mediaExporter_;
    std::unique_ptr<MediaExportWindow> mediaExportWindow_;
    std::unique_ptr<WifiSetupWindow> wifiSetupWindow_;
};

}  // namespace orvan
