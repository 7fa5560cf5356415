#pragma once

#include <array>
#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "adb/AdbDevices.h"
#include "pairing/ScanConnectionEngine.h"
#include "pairing/ScanSessionCoordinator.h"
#include "platform/Clock.h"
#include "platform/Dispatch.h"
#include "platform/TaskScope.h"

namespace orvan {

// The windows the scan-mode connection reports to; all called on the main thread.
struct ScanTaskHooks {
    LogFunction onLog{};
    std::function<void(const std::string&)> setMainStatus{};
    std::function<void(const ConnectedAdbDevice&)> recordRecentDevice{};
    // Merges the device into the tabs, renders them and registers its running mirror.
    std::function<void(const ConnectedAdbDevice&)> registerRunningMirror{};
    std::function<void(const AdbDevices&)> refreshDeviceTabs{};
    std::function<void()> refreshRunningMirrors{};
};

// The connection task of one accepted READY: reuse or connect wireless ADB (private server
// first, then the shared one without restarting anything), wait for a slow target, start the
// mirror, and keep the acknowledgement state current. Every step first checks that its scan
// session is still the active one. Create with std::make_shared: running tasks hold it. `status`
// (the scan page) is written on the main thread while the task's owner holds it.
class ScanMirrorTask : public std::enable_shared_from_this<ScanMirrorTask> {
public:
    static constexpr double kFastReuseTimeout = 0.8;
    static constexpr double kConnectTimeout = 4.0;
    static constexpr double kRecoveryProbeTimeout = 1.0;
    static constexpr std::array<double, 4> kRecoveryWaits = {1.0, 2.0, 4.0, 8.0};

    ScanMirrorTask(ScanConnectionEngine& engine, ScanSessionCoordinator& coordinator, MainQueue& mainQueue,
                   Clock& clock, ScanStatusSink& status, ScanTaskHooks hooks);

    // Starts the task on a background thread and returns at once.
    void startWirelessMirrorFromCallback(const ScanMirrorRequest& request);
    // The app quits: every run stops at its next step or wait with the cancellation kind (no
    // fallback to the shared server, no failure shown), and later runs start nothing. Returns at
    // once; `tasks` tells when the runs have returned.
    void stop() { tasks_.stop(); }
    const TaskScope& tasks() const { return tasks_; }
    // The task's body, on the calling thread (a background thread; tests call it directly).
    void run(const ScanMirrorRequest& request);
    std::optional<AdbServerScope> waitForLateWirelessRecovery(const ConnectedAdbDevice& device,
                                                              const std::string& target, const std::string& sessionId);

private:
    // The scope whose transport is up; throws MirrorError with the user's failure text.
    AdbServerScope connect(const ScanMirrorRequest& request, WirelessConnectFailure& failureBox);
    void checkSession(const std::string& sessionId) const;
    void succeed(const ScanMirrorRequest& request, AdbServerScope scope);
    void fail(const ScanMirrorRequest& request, const std::string& errorText, bool userClosed, bool localNetworkDenied);
    void onMain(std::function<void(const ScanTaskHooks&)> work);
    void log(const std::string& line) const;
    // Lists the devices for the tabs. A classroom's pairs succeed together: while one listing
    // runs, the others ask it for one more round instead of listing every device each.
    void refreshDeviceTabs();

    ScanConnectionEngine& engine_;
    ScanSessionCoordinator& coordinator_;
    MainQueue& main_;
    Clock& clock_;
    ScanStatusSink& status_;
    ScanTaskHooks hooks_;
    TaskScope tasks_;
    std::mutex refreshMutex_;  // guards the two flags below
    bool refreshing_ = false;
    bool refreshAgain_ = false;
};

}  // namespace orvan
