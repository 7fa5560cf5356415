#pragma once

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "adb/AdbAuthorizationKey.h"
#include "adb/ConnectedAdbDevice.h"
#include "foundation/LogSink.h"
#include "pairing/ScanConnectionEngine.h"
#include "pairing/ScanMirrorTask.h"
#include "pairing/ScanSessionCoordinator.h"

namespace orvan {

class ComputerWifiName;
class MirrorService;
class ScanDisableProcessor;
class ScanPage;
class WirelessAdbQrController;
class WirelessAdbWifiCredentialStore;

// What the scan page reaches outside itself. The functions are called on the main thread, and
// do nothing once their owner is gone.
struct ScanPageSurroundings {
    MirrorService& service;
    ScanPage& page;
    // The callback server: the first free port from here on, bound to this address.
    int callbackPort = 18080;
    std::string callbackBindAddress = "0.0.0.0";
    std::shared_ptr<ComputerWifiName> computerWifi;
    std::shared_ptr<WirelessAdbWifiCredentialStore> wifiCredentials;
    // The Wi-Fi interface names as the background network checks last read them.
    std::function<std::vector<std::string>()> wifiInterfaceNames;
    LogFunction log;
    std::function<void(const std::string&)> setMainStatus;
    // Lists the mirror on the manual page and supervises it.
    std::function<void(const ConnectedAdbDevice&)> registerRunningMirror;
    std::function<void(const ConnectedAdbDevice&)> recordRecentDevice;
    std::function<std::map<std::string, ConnectedAdbDevice>()> activeMirrorDevices;
    std::function<void(const std::string& key)> removeActiveMirrorDevice;
    std::function<void()> refreshDeviceTabs;
    std::function<void()> refreshRunningMirrors;
    std::function<bool()> wifiAuthorizationRequired;
    std::function<void()> configureWifi;
    std::function<void()> requestWifiAuthorization;
    std::function<void()> openLocalNetworkSettings;
    std::function<void(const std::string& id, std::function<void(bool stopped)> done)> stopMirroring;
};

// The scan page's parts, made in order and ended in order: its controller (the code, the
// callback server, the page's status), the callback coordinator and the connection tasks that
// report to it, and the disable processor. Main thread.
class ScanPageAssembly {
public:
    explicit ScanPageAssembly(ScanPageSurroundings surroundings);
    ~ScanPageAssembly();
    ScanPageAssembly(const ScanPageAssembly&) = delete;
    ScanPageAssembly& operator=(const ScanPageAssembly&) = delete;

    WirelessAdbQrController& controller() { return *controller_; }
    const std::shared_ptr<WirelessAdbQrController>& sharedController() const { return controller_; }
    ScanSessionCoordinator& session() { return *session_; }

    // The app quits: the code shown becomes void and its callback server closes (its READYs'
    // tasks see their session end), then the connection tasks are stopped. Returns at once.
    void stop();
    // Connection tasks started and not yet returned.
    size_t runningTasks() const { return task_->tasks().running(); }

private:
    ScanPageSurroundings around_;
    std::unique_ptr<AdbAuthorizationKey> adbKey_;
    std::unique_ptr<MirrorServiceScanEngine> engine_;
    // Before the coordinator and the task, which report to it: it goes after them.
    std::shared_ptr<WirelessAdbQrController> controller_;
    std::unique_ptr<ScanSessionCoordinator> session_;
    std::shared_ptr<ScanMirrorTask> task_;
    std::shared_ptr<ScanDisableProcessor> disableProcessor_;
};

}  // namespace orvan
