#include "app/AppDelegate.h"

#include <QEventLoop>
#include <QGuiApplication>
#include <QPointer>
#include <atomic>
#include <cstdlib>
#include <mutex>
#include <thread>
#include <vector>

#include "app/MainWindow.h"
#include "app/ManualPage.h"
#include "app/MediaExportWindow.h"
#include "app/WifiSetupWindow.h"
#include "app/ScanPage.h"
#include "app/ScanPageAssembly.h"
#include "app/SleepWatcher.h"
#include "foundation/MirrorError.h"
#include "media/MediaBrowser.h"
#include "media/MediaExporter.h"
#include "network/ComputerWifiName.h"
#include "mirror/ui/GlassShellOverlayWindow.h"
#include "network/ComputerNetworkWatcher.h"
#include "network/ComputerWifiName.h"
#include "network/LocalNetworkPermission.h"
#include "network/WifiNameAuthorization.h"
#include "network/WifiProfileUpdatedNotification.h"
#include "shell/WirelessAdbQrController.h"
#include "platform/Dispatch.h"
#include "platform/Paths.h"
#include "platform/X11WindowSystem.h"
#include "shell/MirrorServiceBackend.h"

namespace orvan {

namespace {

std::optional<int> portFromEnvironment(const char* name, long lowest = 1) {
    const char* text = std::getenv(name);
    if (!text) return std::nullopt;
    char* end = nullptr;
    long value = std::strtol(text, &end, 10);
    if (end == text || *end != '\0' || value < lowest || value >= 65536) return std::nullopt;
    return static_cast<int>(value);
}

}  // namespace

// The Wi-Fi interface names the callback address prefers. Reading them runs the Wi-Fi tools,
// so the background network checks refresh them and the main thread only reads the copy.
struct AppDelegate::WifiInterfaceCache {
    std::vector<std::string> get() {
        std::lock_guard guard(lock);
        return names;
    }
    void set(std::vector<std::string> fresh) {
        std::lock_guard guard(lock);
        names = std::move(fresh);
    }
    std::mutex lock;
    std::vector<std::string> names;
};

AppDelegate::Options AppDelegate::defaultOptions() {
    Options options;
    // Whole-app tests and benchmarks run beside a real instance: they move the private server
    // off 15037 with this variable.
    if (const char* port = std::getenv("ORVAN_PRIVATE_ADB_PORT")) {
        char* end = nullptr;
        long value = std::strtol(port, &end, 10);
        if (end && *end == '\0' && value > 0 && value < 65536) options.service.privatePort = static_cast<int>(value);
    }
    // The same for the scan page's callback server (0: a port the system picks) and, for tests,
    // its bind address (a loopback one).
    if (auto port = portFromEnvironment("ORVAN_CALLBACK_PORT", 0)) options.callbackPort = *port;
    if (const char* bind = std::getenv("ORVAN_CALLBACK_BIND_ADDRESS"); bind && *bind)
        options.callbackBindAddress = bind;
    options.logFolder = paths::appStateFolder();
    options.recentDevicesFolder = RecentDeviceStore::defaultFolder();
    return options;
}

AppDelegate::AppDelegate(Options options)
    : log_(options.logFolder),
      store_(std::make_shared<RecentDeviceStore>(
          options.recentDevicesFolder.empty() ? RecentDeviceStore::defaultFolder() : options.recentDevicesFolder)),
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
    service_->setOnScrcpyTerminated([self, supervisor = &service_->mirrorSupervisor()](
                                        const MirrorKey& key, const std::shared_ptr<ScrcpyChild>& child) {
        pid_t pid = child ? child->pid() : 0;
        bool glassShell = key.isGlassShell();
        // Glasses that went away under a mirror the user started: it recovers instead of ending
        // (the supervisor's events update the pages).
        auto end = child ? child->exit() : std::nullopt;
        bool recovering = end && supervisor->mirrorEnded(key, *end, child->output().text());
        Dispatch::main().post([self, pid, glassShell, target = key.target, recovering] {
            if (!self || self->terminated_) return;
            if (glassShell) self->closeGlassShellOverlay(pid);
            if (recovering) return;
            // The same enable code may be scanned again for these glasses.
            if (self->scanPage_) self->scanPage_->session().releaseWirelessAdbCallbackState(target, "scrcpy 进程已结束");
            if (self->scanPage_) self->scanPage_->controller().showStatus({"投屏已结束，可重新扫码启动。"});
            self->window_->setStatus("投屏已结束");
            self->manualPage_->syncActiveMirrorUi();
        });
    });

    service_->mirrorSupervisor().setOnEvent([self](const std::string&, const MirrorKey& key,
                                                   MirrorRecoveryEvent event, const std::string& text) {
        Dispatch::main().post([self, target = key.target, event, text] {
            if (!self || self->terminated_) return;
            switch (event) {
            case MirrorRecoveryEvent::recovering:
                if (self->scanPage_) self->scanPage_->controller().showStatus({text});
                self->window_->setStatus(QString::fromStdString(text));
                break;
            case MirrorRecoveryEvent::recovered:
                self->window_->setStatus("投屏中");
                break;
            case MirrorRecoveryEvent::stopped:
                // The mirror ends now, as a window that closed does.
                if (self->scanPage_) self->scanPage_->session().releaseWirelessAdbCallbackState(target, "scrcpy 进程已结束");
                if (self->scanPage_) self->scanPage_->controller().showStatus({"投屏已结束，可重新扫码启动。"});
                self->window_->setStatus("投屏已结束");
                break;
            case MirrorRecoveryEvent::cancelled:
                // Whoever stopped it shows their own text; the code may be scanned again.
                if (self->scanPage_) self->scanPage_->session().releaseWirelessAdbCallbackState(target, "scrcpy 进程已结束");
                break;
            }
            self->manualPage_->syncActiveMirrorUi();
        });
    });

    auto backend = options.backend ? options.backend : std::make_shared<MirrorServiceBackend>(*service_);
    manualPage_ = std::make_shared<ManualPageController>(backend, store_, *window_->manualPage(),
                                                         [self](const std::string& message) {
                                                             if (self) self->appendLog(message);
                                                         });
    window_->manualPage()->setController(manualPage_);
    setUpScanPage(options);

    connect(window_.get(), &MainWindow::clearLogsRequested, this, &AppDelegate::clearLogs);
    connectToolWindowEntries();
    connect(sleepWatcher_, &SleepWatcher::didWake, this, &AppDelegate::workspaceDidWake);
    refreshTimer_.setInterval(kRefreshIntervalMs);
    connect(&refreshTimer_, &QTimer::timeout, this, [this] {
        manualPage_->refreshDevicesSilently(false);
        checkComputerNetworkChange(false);
    });
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

ScanSessionCoordinator& AppDelegate::scanSession() {
    return scanPage_->session();
}

std::shared_ptr<WirelessAdbQrController> AppDelegate::scanController() const {
    return scanPage_->sharedController();
}

void AppDelegate::setUpScanPage(const Options& options) {
    QPointer<AppDelegate> self = this;
    auto log = [self](const std::string& message) {
        if (self) self->appendLog(message);
    };
    computerWifi_ = options.wifi ? std::make_shared<ComputerWifiName>(options.wifi) : std::make_shared<ComputerWifiName>();
    // The process-wide store lives for the whole run: held here without owning it.
    wifiCredentials_ = options.wifiCredentials ? options.wifiCredentials
                                               : std::shared_ptr<WirelessAdbWifiCredentialStore>(
                                                     &WirelessAdbWifiCredentialStore::shared(), [](auto*) {});
    wifiInterfaces_ = std::make_shared<WifiInterfaceCache>();
    scanPage_ = std::make_unique<ScanPageAssembly>(ScanPageSurroundings{
        .service = *service_,
        .page = *window_->scanPage(),
        .callbackPort = options.callbackPort,
        .callbackBindAddress = options.callbackBindAddress,
        .computerWifi = computerWifi_,
        .wifiCredentials = wifiCredentials_,
        .wifiInterfaceNames = [cache = wifiInterfaces_] { return cache->get(); },
        .log = log,
        .setMainStatus = [self](const std::string& text) {
            if (self) self->window_->setStatus(QString::fromStdString(text));
        },
        .registerRunningMirror = [self](const ConnectedAdbDevice& device) {
            if (!self) return;
            self->manualPage_->registerActiveMirror(device);
            // A scan's mirror is supervised; a new scan of glasses that are recovering takes over.
            self->service_->superviseMirror(device, device.serial, false, ActiveMirrors::displayName(device),
                                            AdbServerScope::privateMirroring);
        },
        .recordRecentDevice = [self](const ConnectedAdbDevice& device) {
            if (self && device.ip) self->store_->saveRecentDevice(device.serial, *device.ip, device.wifiName, device.model);
        },
        .activeMirrorDevices = [self]() -> std::map<std::string, ConnectedAdbDevice> {
            if (!self) return {};
            return self->manualPage_->activeMirrors().devices();
        },
        .removeActiveMirrorDevice = [self](const std::string& key) {
            if (self) self->manualPage_->removeActiveMirror(key);
        },
        .refreshDeviceTabs = [self] {
            if (self) self->manualPage_->refreshDevicesSilently(false);
        },
        .refreshRunningMirrors = [self] {
            if (self) self->manualPage_->syncActiveMirrorUi();
        },
        .wifiAuthorizationRequired = [self] {
            return self && self->wifiAuthorization_ && self->wifiAuthorization_->wifiAuthorizationRequired();
        },
        .configureWifi = [self] {
            if (self) self->showWifiSetup();
        },
        .requestWifiAuthorization = [self] {
            if (self) self->wifiAuthorization_->requestFromFailure();
        },
        .openLocalNetworkSettings = [self] {
            if (self) self->localNetworkPermission_->openPrivacySettings();
        },
        .stopMirroring = [self](const std::string& id, std::function<void(bool)> done) {
            if (self) self->stopMirroringSession(id, std::move(done));
        }});

    // The running mirrors, as the manual page keeps them, listed on the scan page.
    manualPage_->setOnActiveMirrorsChanged([self](const ActiveMirrors& mirrors) {
        if (!self || !self->scanPage_) return;
        std::vector<ActiveMirrorSession> sessions;
        for (const auto& [key, device] : mirrors.devices())
            sessions.push_back({key, ActiveMirrors::displayName(device), device.ip.value_or(device.serial)});
        self->scanPage_->controller().updateActiveMirrors(sessions);
    });

    networkWatcher_ = std::make_shared<ComputerNetworkWatcher>(
        ComputerNetworkWatcher::Sources{
            .wifiName = [wifi = computerWifi_] { return wifi->currentSsid(); },
            .lanAddress =
                [wifi = computerWifi_, cache = wifiInterfaces_] {
                    auto names = wifi->wifiInterfaceNames();
                    cache->set(names);
                    return currentLanIPv4Address([names] { return names; });
                }},
        ComputerNetworkWatcher::Hooks{
            .showWifiName =
                [self](const std::string& name) {
                    if (self) self->manualPage_->showComputerWifiName(name);
                },
            .networkChanged =
                [self] {
                    if (!self) return;
                    self->service_->privateAdbServer().resetPrivateWirelessAdbCircuitBreaker(
                        ComputerNetworkWatcher::kChangeReason);
                    if (self->hasStartedWirelessAdbQrController_)
                        self->scanPage_->controller().refreshForNetworkChange();
                },
            .log = log},
        service_->clock());

    localNetworkPermission_ = std::make_shared<LocalNetworkPermission>(
        location_, LocalNetworkPermission::Hooks{.setConfirmed =
                                                     [service = service_.get()](bool confirmed) {
                                                         service->localNetworkProbe()
                                                             .setLocalNetworkPermissionConfirmed(confirmed);
                                                     },
                                                 .log = log});
    wifiAuthorization_ = std::make_shared<WifiNameAuthorization>(
        location_,
        WifiNameAuthorization::Hooks{
            .refreshWifiName = [self] {
                if (self) self->manualPage_->refreshComputerWifiName();
            },
            .regenerateEnableQr = [self] {
                if (self) self->refreshScanEnableQrIfShowingEnable();
            },
            .showScanFailure = [self](const std::string& text) {
                if (self) self->scanPage_->controller().showWifiAuthorizationFailure(text);
            },
            .showScanStatus = [self](const std::string& text) {
                if (self) self->scanPage_->controller().showStatus({text});
            },
            .openWifiSetupWindow = [self] {
                if (self) self->showWifiSetup();
            },
            .openLocationSettings = [] { return false; },
            .continueLocalNetworkRequest = [self] {
                if (self) self->localNetworkPermission_->requestInitialAfterLocation();
            },
            .log = log});

    wifiProfileObserver_ = WifiProfileUpdatedNotification::observe([self] {
        if (self && self->hasStartedWirelessAdbQrController_) self->scanPage_->controller().wifiProfileUpdated();
    });
}

void AppDelegate::startScanPage() {
    // The callback address prefers the Wi-Fi interface, whose name only the Wi-Fi tools know:
    // read it off the main thread before the first code is drawn.
    QPointer<AppDelegate> self = this;
    tasks_.async(
        [self, wifi = computerWifi_, cache = wifiInterfaces_] {
            cache->set(wifi->wifiInterfaceNames());
            Dispatch::main().post([self] {
                if (!self || self->terminated_) return;
                self->scanPage_->controller().refreshEnableQr();
                self->hasStartedWirelessAdbQrController_ = true;
                self->localNetworkPermission_->requestInitialAfterLocation();
                self->checkComputerNetworkChange(true);
            });
        },
        QualityOfService::userInitiated);
}

void AppDelegate::refreshScanEnableQrIfShowingEnable() {
    if (hasStartedWirelessAdbQrController_ && !scanPage_->controller().isShowingDisableQr())
        scanPage_->controller().refreshEnableQr();
}

void AppDelegate::checkComputerNetworkChange(bool setBaselineOnly) {
    if (networkWatcher_ && !terminated_) networkWatcher_->checkIfNeeded(setBaselineOnly);
}

void AppDelegate::stopMirroringSession(const std::string& key, std::function<void(bool stopped)> done) {
    QPointer<AppDelegate> self = this;
    manualPage_->stopMirroringSession(
        key,
        [self](const ConnectedAdbDevice& device) {
            if (self) self->scanPage_->session().releaseWirelessAdbCallbackState(device.serial, "用户停止投屏");
        },
        std::move(done));
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
    service_->tasks().async([service] {
        try {
            service->privateAdbServer().preparePrivateWirelessAdbServer(false);
        } catch (const std::exception&) {
            // Its own log lines say what went wrong; mirroring falls back to the shared server.
        }
    });
    wifiAuthorization_->start();
    startScanPage();
    refreshTimer_.start();
    manualPage_->refreshDevicesSilently(true);
    appendLog("Orvan Mirror 原生应用已启动。");
}

void AppDelegate::applicationWillResignActive() {
    inactiveSince_ = service_->clock().now();
}

void AppDelegate::applicationDidBecomeActive() {
    if (inactiveSince_ && service_->clock().now() - *inactiveSince_ >= kLongAbsence)
        refreshAfterAbsence("应用从长时间后台恢复");
    inactiveSince_.reset();
    if (wifiAuthorization_ && wifiAuthorization_->isWaitingForAuthorization()) {
        wifiAuthorization_->stopWaiting();
        auto state = location_.authorization();
        if (isAuthorized(state))
            wifiAuthorization_->authorizationChanged(state);
        else
            scanPage_->controller().showWifiAuthorizationFailure(
                "系统定位权限仍未开启。请允许后重新授权，或手动配置。");
    }
}

void AppDelegate::workspaceDidWake() {
    refreshAfterAbsence("系统睡眠唤醒");
}

void AppDelegate::refreshAfterAbsence(const std::string& reason) {
    if (terminated_) return;  // a wake or return while quitting
    appendLog("检测到" + reason + "，正在刷新扫码投屏基础状态。");
    service_->privateAdbServer().resetPrivateWirelessAdbCircuitBreaker(reason);
    checkComputerNetworkChange(false);
    manualPage_->refreshComputerWifiName();
    manualPage_->refreshDevicesSilently(true);
}

void AppDelegate::applicationWillTerminate() {
    if (terminated_) return;
    terminated_ = true;
    appendLog(terminationReason_ ? "Orvan Mirror 正在退出：" + *terminationReason_ + "。" : "Orvan Mirror 正在退出。");
    refreshTimer_.stop();
    if (wifiAuthorization_) wifiAuthorization_->stopWaiting();  // its fallback timer does nothing now
    WifiProfileUpdatedNotification::stopObserving(wifiProfileObserver_);
    // Nothing new starts from here on: the code shown is void and its callback server closed, and
    // every owner of background work is stopped, so its tasks end at their next step or wait
    // (a scan task does not fall back to the shared server).
    if (scanPage_) scanPage_->stop();
    manualPage_->stop();
    if (mediaExportWindow_) mediaExportWindow_->controller().stop();
    if (wifiSetupWindow_) wifiSetupWindow_->controller().stop();
    window_->hide();
    if (mediaExportWindow_) mediaExportWindow_->hide();
    if (wifiSetupWindow_) wifiSetupWindow_->hide();
    // Every mirror window closes, then the private adb server stops; the shared one stays. The
    // waiting half runs in the background while this thread keeps serving its queue, so posted
    // work (a start's last step, an overlay's end) does not stall behind the quit.
    service_->beginTermination();
    auto finished = std::make_shared<std::atomic<bool>>(false);
    tasks_.async([service = service_.get(), finished] {
        service->finishTermination(kMirrorEndGrace);
        finished->store(true);
    });
    tasks_.stop();
    // The owners' tasks have the mirrors' grace to end; adb commands still running after it are
    // ended, and the objects they use go only once every task has returned.
    const auto graceEnds = std::chrono::steady_clock::now() + kMirrorEndGrace;
    awaitTermination([this, &finished, &graceEnds] {
        return finished->load() && (backgroundWorkEnded() || std::chrono::steady_clock::now() >= graceEnds);
    });
    service_->abandonCommands();
    // What runs after that waits in a call no stop reaches (a keyring or network query that
    // hangs): past a last grace the process ends at once, as freeing what it still uses would
    // be worse than not freeing it. The private server has stopped by then.
    const auto lastGraceEnds = std::chrono::steady_clock::now() + kStuckWorkGrace;
    awaitTermination([this, &lastGraceEnds] {
        return backgroundWorkEnded() || std::chrono::steady_clock::now() >= lastGraceEnds;
    });
    if (!backgroundWorkEnded()) {
        appendLog("退出时仍有后台任务未结束，Orvan Mirror 直接结束进程。");
        std::_Exit(EXIT_FAILURE);
    }
    mediaExportWindow_.reset();
    wifiSetupWindow_.reset();
    for (auto& [pid, overlay] : overlays_) {
        overlay->close();
        overlay->deleteLater();
    }
    overlays_.clear();
}

bool AppDelegate::backgroundWorkEnded() const {
    size_t running = tasks_.running() + service_->tasks().running() + manualPage_->tasks().running();
    if (scanPage_) running += scanPage_->runningTasks();
    if (mediaExportWindow_) running += mediaExportWindow_->controller().tasks().running();
    if (wifiSetupWindow_) running += wifiSetupWindow_->controller().tasks().running();
    // Work no owner counts (a disable code's stop, a network check) uses the same objects.
    return running == 0 && Dispatch::backgroundTasksInFlight() == 0;
}

void AppDelegate::awaitTermination(const std::function<bool()>& finished) {
    // Qt ends the process through exit() when the display connection breaks: its events can no
    // longer be served then, and the background half is simply awaited.
    bool serveEvents = QCoreApplication::instance() && !displayLost_;
    QTimer look;  // wakes the event wait below to look at the flag
    if (serveEvents) look.start(20);
    while (!finished()) {
        if (serveEvents)
            QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
        else
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

void AppDelegate::showWindowOnRequest() {
    if (terminated_) return;  // a request that raced the quit: the window must not come back
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
    const auto& tools = service_->tools();
    try {
        service_->checkAdb();
        appendLog(tools.searchedFolders.empty() ? "工具目录: " + tools.toolFolder.string()
                                                : "工具: " + tools.adb.string() + ", " + tools.scrcpy.string());
    } catch (const MirrorError& error) {
        appendLog(error.what());
    }
    // Only mirrors need scrcpy: without a usable one the pages say so, and everything else works.
    // The task holds what it reads, not the service, which a quick quit may end first.
    QPointer<AppDelegate> self = this;
    tasks_.async(
        [self, scrcpy = tools.scrcpy, versions = service_->scrcpyVersions()] {
            auto client = MirrorService::checkScrcpyClient(scrcpy, *versions);
            Dispatch::main().post([self, client, scrcpy] {
                if (!self || self->terminated_) return;
                if (client.version)
                    self->appendLog("scrcpy 版本: " + client.version->text + "（" + scrcpy.string() + "）");
                else
                    self->appendLog(client.problem);
                self->window_->setScrcpyHint(QString::fromStdString(client.problem));
            });
        },
        QualityOfService::utility);
}

void AppDelegate::connectToolWindowEntries() {
    connect(window_.get(), &MainWindow::exportMediaRequested, this, &AppDelegate::exportMedia);
    connect(window_.get(), &MainWindow::wifiSetupRequested, this, &AppDelegate::showWifiSetup);
}

void AppDelegate::exportMedia() {
    if (terminated_) return;
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
    if (terminated_) return;
    if (!wifiSetupWindow_) {
        // The same computer Wi-Fi and keyring as the scan page.
        WifiSetupController::Sources sources;
        sources.currentWifiName = [wifi = computerWifi_] { return wifi->currentSsid(); };
        sources.currentWifiSecurityType = [wifi = computerWifi_] { return wifi->currentSecurityType(); };
        sources.store = wifiCredentials_.get();
        sources.cache = &WirelessAdbWifiProfileCache::shared();
        wifiSetupWindow_ = std::make_unique<WifiSetupWindow>(std::move(sources));
    }
    wifiSetupWindow_->present();
}

}  // namespace orvan
