#include "app/AppDelegate.h"

#include <QGuiApplication>
#include <QPointer>
#include <csignal>
#include <cstdlib>
#include <thread>

#include "app/MainWindow.h"
#include "app/ManualPage.h"
#include "app/MediaExportWindow.h"
#include "app/WifiSetupWindow.h"
#include "app/SleepWatcher.h"
#include "foundation/MirrorError.h"
#include "media/MediaBrowser.h"
#include "media/MediaExporter.h"
#include "network/ComputerWifiName.h"
#include "mirror/ScrcpyCommandLine.h"
#include "mirror/ui/GlassShellOverlayWindow.h"
#include "platform/Dispatch.h"
#include "platform/Paths.h"
#include "platform/X11WindowSystem.h"
#include "shell/MirrorServiceBackend.h"

namespace orvan {

AppDelegate::Options AppDelegate::defaultOptions() {
    Options options;
    // Whole-app tests and benchmarks run beside a real instance: they move the private server
    // off 15037 with this variable.
    if (const char* port = std::getenv("ORVAN_PRIVATE_ADB_PORT")) {
        char* end = nullptr;
        long value = std::strtol(port, &end, 10);
        if (end && *end == '\0' && value > 0 && value < 65536) options.service.privatePort = static_cast<int>(value);
    }
    options.logFolder = paths::appStateFolder();
    options.recentDevicesFolder = RecentDeviceStore::defaultFolder();
    return options;
}

AppDelegate::AppDelegate(Options options)
    : log_(options.logFolder),
      store_(options.recentDevicesFolder.empty() ? RecentDeviceStore::defaultFolder() : options.recentDevicesFolder),
      windows_(options.service.windows ? options.service.windows : std::make_shared<X11WindowSystem>()),
      sleepWatcher_(new SleepWatcher(this)) {
    options.service.windows = windows_;
    service_ = std::make_unique<MirrorService>(options.service);
    window_ = std::make_unique<MainWindow>();

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
    Dispatch::setFailureReporter([self](const std::string& line) {
        if (self) self->appendLog(line);
    });
    service_->setOnGlassShellStarted([self](const std::shared_ptr<ScrcpyChild>& child) {
        pid_t pid = child->pid();
        Dispatch::main().post([self, pid] {
            if (self) self->openGlassShellOverlay(pid);
        });
    });
    service_->setOnScrcpyTerminated([self](const std::string& key, const std::shared_ptr<ScrcpyChild>& child) {
        pid_t pid = child ? child->pid() : 0;
        bool glassShell = key.ends_with(kGlassShellProcessKeySuffix);
        Dispatch::main().post([self, pid, glassShell, key] {
            if (!self || self->terminated_) return;
            if (glassShell) self->closeGlassShellOverlay(pid);
            // The same enable code may be scanned again for these glasses.
            if (self->scanSession_) self->scanSession_->releaseWirelessAdbCallbackState(key, "scrcpy 进程已结束");
            self->window_->setStatus("投屏已结束");
            self->manualPage_->syncActiveMirrorUi();
        });
    });

    auto backend = options.backend ? options.backend : std::make_shared<MirrorServiceBackend>(*service_);
    manualPage_ = std::make_shared<ManualPageController>(backend, store_, *window_->manualPage(),
                                                         [self](const std::string& message) {
                                                             if (self) self->appendLog(message);
                                                         });
    window_->manualPage()->setController(manualPage_);
    setUpScanSession();

    connect(window_.get(), &MainWindow::clearLogsRequested, this, &AppDelegate::clearLogs);
    connectToolWindowEntries();
    connect(sleepWatcher_, &SleepWatcher::didWake, this, &AppDelegate::workspaceDidWake);
    refreshTimer_.setInterval(kRefreshIntervalMs);
    connect(&refreshTimer_, &QTimer::timeout, this, [this] { manualPage_->refreshDevicesSilently(false); });
    if (auto* app = qobject_cast<QGuiApplication*>(QCoreApplication::instance())) {
        connect(app, &QGuiApplication::applicationStateChanged, this, [this](Qt::ApplicationState state) {
            if (state == Qt::ApplicationActive)
                applicationDidBecomeActive();
            else if (state == Qt::ApplicationInactive)
                applicationWillResignActive();
        });
    }
}

AppDelegate::~AppDelegate() {
    applicationWillTerminate();
    service_->setOnLog(nullptr);
    Dispatch::setFailureReporter(nullptr);
    service_->setOnGlassShellStarted(nullptr);
    service_->setOnScrcpyTerminated(nullptr);
    log_.setScreenSink(nullptr);
}

void AppDelegate::setUpScanSession() {
    QPointer<AppDelegate> self = this;
    auto log = [self](const std::string& message) {
        if (self) self->appendLog(message);
    };
    auto setStatus = [self](const std::string& text) {
        if (self) self->window_->setStatus(QString::fromStdString(text));
    };
    auto refreshMirrors = [self](const ConnectedAdbDevice&) {
        if (self) self->manualPage_->syncActiveMirrorUi();
    };
    adbKey_ = std::make_unique<AdbAuthorizationKey>(service_->adbRunner(), paths::home() / ".android");
    scanEngine_ = std::make_unique<MirrorServiceScanEngine>(*service_);
    ScanSessionHooks hooks;
    hooks.onLog = log;
    hooks.isMirroring = [service = service_.get()](const ConnectedAdbDevice& device) {
        return service->isMirroring(device);
    };
    hooks.adbPublicKey = [key = adbKey_.get()] { return key->adbPublicKeyForTemporaryAuthorization(); };
    hooks.registerRunningMirror = refreshMirrors;
    hooks.startWirelessMirrorFromCallback = [self](const ScanMirrorRequest& request) {
        if (self) self->scanTask_->startWirelessMirrorFromCallback(request);
    };
    scanSession_ = std::make_unique<ScanSessionCoordinator>(Dispatch::main(), std::move(hooks));
    ScanTaskHooks taskHooks;
    taskHooks.onLog = log;
    taskHooks.setMainStatus = setStatus;
    taskHooks.recordRecentDevice = [self](const ConnectedAdbDevice& device) {
        if (self && device.ip) self->store_.saveRecentDevice(device.serial, *device.ip, device.wifiName, device.model);
    };
    taskHooks.registerRunningMirror = refreshMirrors;
    taskHooks.refreshDeviceTabs = [self](const AdbDevices&) {
        if (self) self->manualPage_->refreshDevicesSilently(false);
    };
    taskHooks.refreshRunningMirrors = [self] {
        if (self) self->manualPage_->syncActiveMirrorUi();
    };
    scanTask_ = std::make_shared<ScanMirrorTask>(*scanEngine_, *scanSession_, Dispatch::main(), service_->clock(),
                                                 std::move(taskHooks));
}

void AppDelegate::appendLog(const std::string& message) {
    log_.appendLog(message);
}

void AppDelegate::clearLogs() {
    window_->clearLogView();
    if (!log_.clearLogFile()) window_->setStatus("日志文件清除失败");
}

void AppDelegate::applicationDidFinishLaunching() {
    window_->show();
    logToolCheck();
    manualPage_->loadRecentDevices();
    manualPage_->refreshComputerWifiName();
    auto* service = service_.get();
    Dispatch::async([service] {
        try {
            service->privateAdbServer().preparePrivateWirelessAdbServer(false);
        } catch (const std::exception&) {
            // Its own log lines say what went wrong; mirroring falls back to the shared server.
        }
    });
    refreshTimer_.start();
    manualPage_->refreshDevicesSilently(true);
    appendLog("Orvan Mirror 原生应用已启动。");
}

void AppDelegate::applicationWillResignActive() {
    inactiveSince_ = std::chrono::steady_clock::now();
}

void AppDelegate::applicationDidBecomeActive() {
    if (inactiveSince_ && std::chrono::steady_clock::now() - *inactiveSince_ >= kLongAbsence)
        refreshAfterAbsence("应用从长时间后台恢复");
    inactiveSince_.reset();
}

void AppDelegate::workspaceDidWake() {
    refreshAfterAbsence("系统睡眠唤醒");
}

void AppDelegate::refreshAfterAbsence(const std::string& reason) {
    appendLog("检测到" + reason + "，正在刷新扫码投屏基础状态。");
    service_->privateAdbServer().resetPrivateWirelessAdbCircuitBreaker(reason);
    manualPage_->refreshComputerWifiName();
    manualPage_->refreshDevicesSilently(true);
}

void AppDelegate::applicationWillTerminate() {
    if (terminated_) return;
    terminated_ = true;
    appendLog(terminationReason_ ? "Orvan Mirror 正在退出：" + *terminationReason_ + "。" : "Orvan Mirror 正在退出。");
    refreshTimer_.stop();
    // Every mirror window closes, then the private adb server stops; the shared one stays.
    service_->stopForTermination();
    awaitMirrorsEnded();
    for (auto& [pid, overlay] : overlays_) {
        overlay->close();
        overlay->deleteLater();
    }
    overlays_.clear();
}

void AppDelegate::awaitMirrorsEnded() {
    // The mirrors were asked to close; the app does not leave before they have, so no mirror
    // window outlives it as an orphan. One that ignores the request is ended.
    auto& launcher = service_->scrcpyLauncher();
    auto deadline = std::chrono::steady_clock::now() + kMirrorEndGrace;
    auto left = launcher.launchedChildrenNotEnded();
    for (; !left.empty() && std::chrono::steady_clock::now() < deadline; left = launcher.launchedChildrenNotEnded())
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    for (pid_t pid : left) ::kill(pid, SIGKILL);
}

void AppDelegate::showWindowOnRequest() {
    window_->showNormal();
    window_->raise();
    window_->activateWindow();
    appendLog("收到再次启动请求，已显示主窗口。");
}

void AppDelegate::openGlassShellOverlay(pid_t pid) {
    closeGlassShellOverlay(pid);
    // Without an X server the app is a Wayland client: it can neither find the mirror window nor
    // place a window over it. The mirror itself runs as usual.
    if (QGuiApplication::platformName().startsWith("wayland")) {
        appendLog("当前为 Wayland 会话且没有可用的 X11 显示，无法将眼镜外壳叠加到投屏窗口上，已跳过叠加层。");
        return;
    }
    auto* overlay = new GlassShellOverlayWindow(pid, windows_);
    overlay->showAndFollow();
    overlays_[pid] = overlay;
}

void AppDelegate::closeGlassShellOverlay(pid_t pid) {
    auto found = overlays_.find(pid);
    if (found == overlays_.end()) return;
    found->second->close();
    found->second->deleteLater();
    overlays_.erase(found);
}

void AppDelegate::logToolCheck() {
    try {
        service_->checkTools();
        const auto& tools = service_->tools();
        appendLog(tools.searchedFolders.empty() ? "工具目录: " + tools.toolFolder.string()
                                                : "工具: " + tools.adb.string() + ", " + tools.scrcpy.string());
    } catch (const MirrorError& error) {
        appendLog(error.what());
    }
}

void AppDelegate::connectToolWindowEntries() {
    connect(window_.get(), &MainWindow::exportMediaRequested, this, &AppDelegate::exportMedia);
    connect(window_.get(), &MainWindow::wifiSetupRequested, this, &AppDelegate::showWifiSetup);
}

void AppDelegate::exportMedia() {
    auto target = manualPage_->mediaExportTargetDevice();
    if (!target.device) {
        manualPage_->showError(target.unavailableMessage);
        return;
    }
    window_->setStatus("正在读取照片和视频...");
    if (!mediaExportWindow_) {
        mediaBrowser_ = std::make_shared<MediaBrowser>(service_->adbRunner(), service_->deviceDiscovery());
        mediaExporter_ = std::make_shared<MediaExporter>(*mediaBrowser_, service_->clock());
        mediaExportWindow_ = std::make_unique<MediaExportWindow>(mediaBrowser_, mediaExporter_);
        mediaExportWindow_->move(window_->geometry().center() - mediaExportWindow_->rect().center());
    }
    // The window reads these glasses until it is closed and opened again.
    mediaExportWindow_->present(target.device->serial);
}

void AppDelegate::showWifiSetup() {
    if (!wifiSetupWindow_) {
        auto wifi = std::make_shared<ComputerWifiName>();
        WifiSetupController::Sources sources;
        sources.currentWifiName = [wifi] { return wifi->currentSsid(); };
        sources.currentWifiSecurityType = [wifi] { return wifi->currentSecurityType(); };
        sources.store = &WirelessAdbWifiCredentialStore::shared();
        sources.cache = &WirelessAdbWifiProfileCache::shared();
        wifiSetupWindow_ = std::make_unique<WifiSetupWindow>(std::move(sources));
    }
    wifiSetupWindow_->present();
}

}  // namespace orvan
