#include "app/ScanPageAssembly.h"

#include "app/ScanPage.h"
#include "mirror/MirrorService.h"
#include "network/ComputerWifiName.h"
#include "network/ScanWifiProfile.h"
#include "network/WifiProfilePersistence.h"
#include "network/WifiProfileUpdatedNotification.h"
#include "network/WirelessAdbWifiCredentialError.h"
#include "network/WirelessAdbWifiCredentialStore.h"
#include "network/WirelessAdbWifiProfileCache.h"
#include "pairing/ScanDisableProcessor.h"
#include "shell/WirelessAdbQrController.h"
#include "platform/Dispatch.h"
#include "platform/Paths.h"

namespace orvan {

namespace {

// "host" of "http://host:port/path"; none for anything else.
std::optional<std::string> urlHost(const std::optional<std::string>& url) {
    const std::string scheme = "http://";
    if (!url || !url->starts_with(scheme)) return std::nullopt;
    auto end = url->find_first_of(":/", scheme.size());
    return url->substr(scheme.size(), end == std::string::npos ? std::string::npos : end - scheme.size());
}

}  // namespace

ScanPageAssembly::ScanPageAssembly(ScanPageSurroundings surroundings) : around_(std::move(surroundings)) {
    adbKey_ = std::make_unique<AdbAuthorizationKey>(around_.service.adbRunner(), paths::home() / ".android");
    engine_ = std::make_unique<MirrorServiceScanEngine>(around_.service);

    // The scan page's controller first: the callback coordinator and the tasks report to it.
    WirelessAdbQrHooks hooks;
    hooks.onLog = around_.log;
    // The server's worker thread: the coordinator (made next, kept as long as the server runs)
    // answers at once.
    hooks.onCallback = [this](const WirelessAdbCallback& callback) {
        return session_->handleWirelessAdbCallback(callback);
    };
    hooks.onSessionChanged = [this](const std::string& oldId, const std::string& newId) {
        session_->sessionChanged(oldId, newId);
    };
    hooks.wifiProfileProvider = [wifi = around_.computerWifi, credentials = around_.wifiCredentials] {
        return resolveScanWifiProfile(WirelessAdbWifiProfileCache::shared(), *credentials, *wifi);
    };
    hooks.wifiNameProvider = [wifi = around_.computerWifi] { return wifi->currentSsid(); };
    hooks.wifiSecurityTypeProvider = [wifi = around_.computerWifi] { return wifi->currentSecurityType(); };
    hooks.wifiAuthorizationRequired = around_.wifiAuthorizationRequired;
    // Main thread: the interface names come from the copy the background checks keep. A server
    // bound to one address (tests: loopback) is reached at that address only.
    if (around_.callbackBindAddress != "0.0.0.0") {
        hooks.lanAddress = [address = around_.callbackBindAddress]() -> std::optional<LanInterfaceAddress> {
            return LanInterfaceAddress{"bound", address};
        };
    } else {
        hooks.lanAddress = [names = around_.wifiInterfaceNames] { return currentLanIPv4Address(names); };
    }
    hooks.onDisableSessionChanged = [this](const std::string& newId) { session_->disableSessionChanged(newId); };
    hooks.savedWifiNames = [credentials = around_.wifiCredentials] { return credentials->savedSsids(); };
    hooks.savedWifiProfile = [credentials = around_.wifiCredentials](const std::string& ssid) {
        std::optional<WirelessAdbWifiProfile> profile;
        try {
            profile = credentials->profile(ssid);
        } catch (const WirelessAdbWifiCredentialError&) {
            return profile;  // the page says it could not be read
        }
        if (profile) credentials->noteUsed(ssid);
        return profile;
    };
    hooks.onConfigureWifi = around_.configureWifi;
    hooks.onRequestWifiAuthorization = around_.requestWifiAuthorization;
    hooks.onOpenLocalNetworkSettings = around_.openLocalNetworkSettings;
    hooks.onStopMirroring = around_.stopMirroring;
    hooks.persistWifiProfile = [credentials = around_.wifiCredentials](const WirelessAdbWifiProfile& profile,
                                                                       bool remember) {
        return persistAndCacheWifiProfile(*credentials, WirelessAdbWifiProfileCache::shared(), profile, remember);
    };
    hooks.postWifiProfileUpdated = [] { WifiProfileUpdatedNotification::post(); };
    controller_ = std::make_shared<WirelessAdbQrController>(
        Dispatch::main(), around_.page, std::move(hooks), around_.callbackPort,
        CallbackServerLimits{.bindAddress = around_.callbackBindAddress});
    around_.page.setController(controller_);

    ScanSessionHooks sessionHooks;
    sessionHooks.onLog = around_.log;
    sessionHooks.isMirroring = [service = &around_.service](const ConnectedAdbDevice& device) {
        return service->isMirroring(device);
    };
    sessionHooks.adbPublicKey = [key = adbKey_.get()] { return key->adbPublicKeyForTemporaryAuthorization(); };
    sessionHooks.registerRunningMirror = around_.registerRunningMirror;
    sessionHooks.processDisableWirelessAdbCallback = [this](const WirelessAdbCallback& callback) {
        disableProcessor_->processDisableWirelessAdbCallback(callback);
    };
    sessionHooks.configuredWifiName = [this] { return controller_->configuredWifiName(); };
    sessionHooks.callbackHost = [this] { return urlHost(controller_->activeCallbackUrl()); };
    sessionHooks.startWirelessMirrorFromCallback = [this](const ScanMirrorRequest& request) {
        task_->startWirelessMirrorFromCallback(request);
    };
    session_ = std::make_unique<ScanSessionCoordinator>(Dispatch::main(), *controller_, std::move(sessionHooks));

    ScanTaskHooks taskHooks;
    taskHooks.onLog = around_.log;
    taskHooks.setMainStatus = around_.setMainStatus;
    taskHooks.recordRecentDevice = around_.recordRecentDevice;
    taskHooks.registerRunningMirror = around_.registerRunningMirror;
    taskHooks.refreshDeviceTabs = [refresh = around_.refreshDeviceTabs](const AdbDevices&) { refresh(); };
    taskHooks.refreshRunningMirrors = around_.refreshRunningMirrors;
    task_ = std::make_shared<ScanMirrorTask>(*engine_, *session_, Dispatch::main(), around_.service.clock(),
                                             *controller_, std::move(taskHooks));

    disableProcessor_ = std::make_shared<ScanDisableProcessor>(
        *engine_, controller_, Dispatch::main(),
        ScanDisableHooks{.onLog = around_.log,
                         .setMainStatus = around_.setMainStatus,
                         .activeMirrorDevices = around_.activeMirrorDevices,
                         .removeActiveMirrorDevice = around_.removeActiveMirrorDevice,
                         .refreshDeviceTabs = [refresh = around_.refreshDeviceTabs](const AdbDevices&) { refresh(); },
                         .refreshRunningMirrors = around_.refreshRunningMirrors});
}

ScanPageAssembly::~ScanPageAssembly() = default;

void ScanPageAssembly::stop() {
    controller_->stop();
    task_->stop();
}

}  // namespace orvan
