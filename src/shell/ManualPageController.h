#pragma once

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "adb/AdbDevices.h"
#include "adb/ConnectedAdbDevice.h"
#include "platform/TaskScope.h"
#include "shell/ManualPageRules.h"

namespace orvan {

class RecentDeviceStore;

// What the manual page asks of the service. Every call may block (it runs adb); the controller
// only calls it off the main thread.
class ManualPageBackend {
public:
    virtual ~ManualPageBackend() = default;
    virtual AdbDevices detectAdbDevices(bool silent) = 0;
    virtual AdbDevices detectAdbDevicePresence(bool silent) = 0;
    virtual std::string getWlanIp(const std::string& serial, bool silent) = 0;
    virtual std::optional<std::string> getWlanSsid(const std::string& serial, bool silent) = 0;
    virtual std::optional<std::string> getDeviceModel(const std::string& serial, bool silent) = 0;
    // Wireless connect to a remembered address; failures are the caller's to ignore.
    virtual void connectWireless(const std::string& ip, int port, double timeout, bool silent) = 0;
    virtual void startWirelessMirror(const ConnectedAdbDevice& device, bool glassShell) = 0;
    virtual void stopMirror(const ConnectedAdbDevice& device) = 0;
    // Without a device: every window closes and every wireless transport is disconnected.
    virtual void disconnect(const std::optional<ConnectedAdbDevice>& device) = 0;
    virtual bool isMirroring(const ConnectedAdbDevice& device) = 0;
    virtual bool isAudioForwardingEnabled() = 0;
    virtual void setAudioForwardingEnabled(bool enabled) = 0;
    // The computer's current Wi-Fi name, "-" when there is none.
    virtual std::string computerWifiName() = 0;
};

// What the page shows; implemented by the Qt view (and by a recorder in tests).
struct DeviceTab {
    std::string title;
    std::string tooltip;
};

class ManualPageView {
public:
    virtual ~ManualPageView() = default;
    virtual void renderTabs(const std::vector<DeviceTab>& tabs, std::optional<size_t> selected) = 0;
    virtual void showStatusRows(const StatusRows& rows) = 0;
    virtual void setStatus(const std::string& text) = 0;
    virtual void setMirrorButtonTitle(const std::string& title) = 0;
    virtual void setAudioForwarding(bool checked, const std::string& tooltip) = 0;
    // While an action runs the page's action buttons do nothing.
    virtual void setBusy(bool busy) = 0;
    virtual void showWarning(const std::string& title, const std::string& message) = 0;
    virtual void showInformation(const std::string& message, const std::string& button) = 0;
    // Whether the export entry has glasses to read from, and its tool tip.
    virtual void setExportAvailability(bool available, const std::string& tooltip) {
        (void)available;
        (void)tooltip;
    }
};

// The manual page's state and rules, without widgets. Lives on the main thread; blocking work
// goes to the background pool and comes back through the main queue.
class ManualPageController : public std::enable_shared_from_this<ManualPageController> {
public:
    // The store is shared: background work that outlives the app's own reference still writes to it.
    ManualPageController(std::shared_ptr<ManualPageBackend> backend, std::shared_ptr<RecentDeviceStore> store,
                         ManualPageView& view, std::function<void(const std::string&)> log);

    // Launch: recent devices shown before anything is detected.
    void loadRecentDevices();

    void detectDevice();
    void start();
    void startGlassShell();
    void disconnect();
    void selectDeviceTab(size_t index);
    void audioForwardingToggled(bool requested);
    void refreshDevicesSilently(bool validateWireless);
    // Reads the computer's Wi-Fi name off the main thread and shows it.
    void refreshComputerWifiName();
    // The name the network watcher read ("-" when none): the row follows the computer's network.
    void showComputerWifiName(const std::string& name);
    // After a mirror ended elsewhere (window closed): drop mirrors that no longer run.
    void syncActiveMirrorUi();
    void showError(const std::string& message);
    // The glasses the export window reads from (with the entry's tool tip, and the error to
    // show when there are none).
    ExportTarget mediaExportTargetDevice() const;

    // The running mirrors as the scan page lists them: told after every render (the listener
    // ignores an unchanged list).
    void setOnActiveMirrorsChanged(std::function<void(const ActiveMirrors&)> listener) {
        onActiveMirrorsChanged_ = std::move(listener);
    }
    // A mirror started elsewhere (scan mode): listed and marked on its tab.
    void registerActiveMirror(const ConnectedAdbDevice& device);
    void removeActiveMirror(const std::string& key);
    // The scan page's stop button: stops that mirror only (wireless ADB stays), lets the caller
    // release what it holds for the device (`release`, main thread), detects silently and
    // re-renders. `done(stopped)` comes on the main thread; false when the mirror still runs.
    void stopMirroringSession(const std::string& key, std::function<void(const ConnectedAdbDevice&)> release,
                              std::function<void(bool stopped)> done);

    const std::vector<ConnectedAdbDevice>& tabs() const { return tabs_; }
    const std::optional<ConnectedAdbDevice>& selectedDevice() const { return selected_; }
    const ActiveMirrors& activeMirrors() const { return mirrors_; }
    bool isRefreshInProgress() const { return refreshInProgress_; }
    bool isActionInProgress() const { return actionInProgress_; }
    // The app quits: no new work starts, and the work running sees the stop. `tasks` tells when
    // it has returned.
    void stop() { tasks_.stop(); }
    const TaskScope& tasks() const { return tasks_; }
    // Where the USB vendor ids of the glasses are read; set before the first detection.
    void setSysfsRoot(std::filesystem::path root) { sysfsRoot_ = std::move(root); }
    const std::optional<std::string>& diagnosis() const { return diagnosis_; }

private:
    // The device an action acts on; a switch to another connected device is logged and selected.
    std::optional<ConnectedAdbDevice> deviceForAction();
    struct Detection {
        AdbDevices devices;
        std::vector<ConnectedAdbDevice> recent;
        std::string wifiName;
        std::optional<std::string> diagnosis;
    };

    void startMirror(bool glassShell);
    // Runs `work` in the background; its result (or its error, shown with showError) comes back
    // on the main thread. Only one action at a time.
    void runAction(std::function<std::function<void()>()> work);
    // Runs off the main thread: touches only the backend, the store and the log.
    // `remember` saves every USB pair as a recent device, as an explicit detection does.
    Detection detect(bool silent, bool remember) const;
    void reconnectRecentWireless() const;
    void applyDetection(const Detection& detection);
    void render();
    void updateSelection();
    void noteDiagnosis(const std::optional<std::string>& diagnosis);

    std::shared_ptr<ManualPageBackend> backend_;
    std::shared_ptr<RecentDeviceStore> store_;
    ManualPageView& view_;
    std::function<void(const std::string&)> log_;
    std::function<void(const ActiveMirrors&)> onActiveMirrorsChanged_;
    TaskScope tasks_;

    std::vector<ConnectedAdbDevice> detected_;
    std::vector<ConnectedAdbDevice> recent_;
    std::vector<ConnectedAdbDevice> tabs_;
    std::optional<ConnectedAdbDevice> selected_;
    ActiveMirrors mirrors_;
    std::string computerWifiName_ = "-";
    bool refreshInProgress_ = false;
    bool actionInProgress_ = false;
    std::filesystem::path sysfsRoot_ = "/sys";
    // Why the listed glasses cannot be used; shown in the status row while the listing says so.
    std::optional<std::string> diagnosis_;
};

}  // namespace orvan
