#pragma once

#include <chrono>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "adb/AdbRunner.h"
#include "adb/AdbTargetProbe.h"
#include "adb/DeviceDiscovery.h"
#include "adb/PrivateAdbServer.h"
#include "foundation/LogSink.h"
#include "foundation/ToolLocation.h"
#include "mirror/ConnectedTarget.h"
#include "mirror/LocalNetworkProbe.h"
#include "mirror/MirrorOrchestrator.h"
#include "mirror/MirrorSupervisor.h"
#include "mirror/MirrorTargets.h"
#include "mirror/ScrcpyLauncher.h"
#include "mirror/SharedAdbSync.h"
#include "mirror/TargetReadiness.h"
#include "mirror/WirelessAdbConnector.h"
#include "foundation/StoppableClock.h"
#include "platform/Clock.h"
#include "platform/TaskScope.h"

namespace orvan {

struct MirrorServiceOptions {
    ToolLocation tools = ToolLocation::standard();
    int privatePort = kPrivateMirroringPort;  // tests use a free port of their own
    Clock* clock = &SystemClock::shared();
    // The desktop's window list for the scrcpy windows; none: X11 through $DISPLAY.
    std::shared_ptr<WindowSystem> windows;
    ProcessListRunner processList = systemProcessListRunner();
    std::shared_ptr<MainQueue> mainQueue;  // none: Dispatch::main()
};

// Owns all process and server state of the app: the tool locations, the adb runner and the
// components built on it. A small facade: each operation lives on the component that owns it.
class MirrorService {
public:
    explicit MirrorService(MirrorServiceOptions options = {});
    MirrorService(const MirrorService&) = delete;
    MirrorService& operator=(const MirrorService&) = delete;
    ~MirrorService();

    const ToolLocation& tools() const { return tools_; }
    const std::filesystem::path& adb() const { return tools_.adb; }
    const std::filesystem::path& scrcpy() const { return tools_.scrcpy; }
    int privatePort() const { return runner_.privatePort(); }
    Clock& clock() const { return *clock_; }

    // The first step of every mirror start; whatever runs adb alone checks only adb.
    void checkTools() const { tools_.checkTools(); }
    void checkAdb() const { tools_.checkAdb(); }

    // Whether mirrors can start: the client's version, or else the one line the pages show (the
    // client is missing, too old or silent). Runs `scrcpy --version` once per binary: call it
    // off the main thread. The static form needs nothing of the service, for a task that may
    // outlive it.
    struct ScrcpyClientState {
        std::optional<ScrcpyVersion> version;
        std::string problem;
    };
    ScrcpyClientState checkScrcpyClient() const { return checkScrcpyClient(tools_.scrcpy, *scrcpyVersions_); }
    static ScrcpyClientState checkScrcpyClient(const std::filesystem::path& scrcpy, ScrcpyVersionReader& versions);
    const std::shared_ptr<ScrcpyVersionReader>& scrcpyVersions() const { return scrcpyVersions_; }

    // The service's `onLog`; components share this sink.
    void setOnLog(LogFunction function) { log_->set(std::move(function)); }
    const SharedLogSink& log() const { return log_; }

    const AdbRunner& adbRunner() const { return runner_; }
    AdbRunner& adbRunner() { return runner_; }
    CommandResult runAdb(const std::vector<std::string>& arguments, const AdbCall& call) const {
        return runner_.runAdb(arguments, call);
    }

    // Device discovery and device details (always on the shared server).
    const DeviceDiscovery& deviceDiscovery() const { return discovery_; }

    // The scrcpy windows and their registry (startScrcpy, isMirroring, ...).
    ScrcpyLauncher& scrcpyLauncher() const { return *launcher_; }
    void setOnScrcpyTerminated(ScrcpyLauncher::TerminationCallback callback) {
        launcher_->setOnScrcpyTerminated(std::move(callback));
    }
    void setOnGlassShellStarted(ScrcpyLauncher::GlassShellCallback callback) {
        launcher_->setOnGlassShellStarted(std::move(callback));
    }
    void setAudioForwardingEnabled(bool enabled) { launcher_->setAudioForwardingEnabled(enabled); }
    bool isAudioForwardingEnabled() const { return launcher_->isAudioForwardingEnabled(); }
    // Plain starts on the shared server: the tools are checked first.
    void startMirror(const std::string& target);
    void startGlassShellMirror(const std::string& target);
    // Wireless starts, stops and disconnects (startWirelessMirror, startVerifiedWirelessMirror,
    // stopMirror, disconnect, ...), and which wireless target mirrors which device.
    MirrorOrchestrator& mirrorOrchestrator() { return *orchestrator_; }
    MirrorTargets& mirrorTargets() { return targets_; }
    bool isMirroring(const ConnectedAdbDevice& device) const { return orchestrator_->isMirroring(device); }
    // Brings back the user's mirrors whose glasses went away for a while. The starts below put a
    // mirror under it once it runs; every stop and disconnect of the orchestration ends it.
    MirrorSupervisor& mirrorSupervisor() { return *supervisor_; }
    // A wireless mirror the manual page started (`device` as the page knows it, the target it
    // runs through) or the scan callback started (`scanScope` set): supervise it, restarting it
    // the same way.
    void superviseMirror(const ConnectedAdbDevice& device, const std::string& target, bool glassShell,
                         const std::string& name, std::optional<AdbServerScope> scanScope);
    // Makes a target mirrored on the private server reachable on the shared one too.
    SharedAdbSync& sharedAdbSync() { return sharedSync_; }
    // The service's background work: the tasks run with it (the pages' commands, the quit's wait)
    // see its stop, and every wait on its clock ends with the cancellation kind once it stopped.
    TaskScope& tasks() { return tasks_; }
    // The service's part of the app's termination, in two halves so that the main thread never
    // waits: `beginTermination` (quick, any thread) stops the service's tasks and waits, cancels
    // the starts in progress and asks every mirror window to close; `finishTermination`
    // (blocking, a background thread) gives the launched windows `grace` to end, ends those that
    // ignore the request, then stops the private adb server. The shared server is left running.
    // `abandonCommands` (quick, any thread) ends the adb commands still running after that; later
    // ones launch nothing.
    static constexpr std::chrono::seconds kMirrorEndGrace{3};
    void beginTermination();
    void finishTermination(std::chrono::milliseconds grace = kMirrorEndGrace);
    void abandonCommands() { commandsAbandoned_.stop(); }
    // Both halves, for callers off the main thread.
    void stopForTermination() {
        beginTermination();
        finishTermination();
    }

    // The connection engine: the private mirroring server and its breaker, the state and echo
    // probe, readiness and authorization waits, the local-network probe and permission flag, the
    // wireless connect, and the target it last connected.
    PrivateAdbServer& privateAdbServer() { return privateServer_; }
    const AdbTargetProbe& targetProbe() const { return targetProbe_; }
    const TargetReadiness& targetReadiness() const { return readiness_; }
    LocalNetworkProbe& localNetworkProbe() { return localNetwork_; }
    const WirelessAdbConnector& wirelessAdbConnector() const { return connector_; }
    ConnectedTarget& connectedTarget() { return connectedTarget_; }

private:
    SupervisedMirror supervisedMirror(const ConnectedAdbDevice& device, const std::string& target, bool glassShell,
                                      const std::string& name, std::optional<AdbServerScope> scanScope);

    ToolLocation tools_;
    TaskScope tasks_;
    StopSource commandsAbandoned_;
    Clock* baseClock_;
    StoppableClock stoppableClock_;
    Clock* clock_ = &stoppableClock_;
    SharedLogSink log_ = std::make_shared<LogSink>();
    AdbRunner runner_;
    DeviceDiscovery discovery_{runner_, tools_};
    AdbTargetProbe targetProbe_{runner_};
    PrivateAdbServer privateServer_{runner_, tools_, *clock_};
    LocalNetworkProbe localNetwork_;
    ConnectedTarget connectedTarget_;
    TargetReadiness readiness_{runner_, targetProbe_, *clock_};
    WirelessAdbConnector connector_{runner_,    tools_,        *clock_,        targetProbe_,
                                    readiness_, localNetwork_, privateServer_, connectedTarget_};
    std::shared_ptr<ScrcpyVersionReader> scrcpyVersions_ = std::make_shared<ScrcpyVersionReader>();
    std::shared_ptr<ScrcpyLauncher> launcher_;
    MirrorTargets targets_;
    std::unique_ptr<MirrorOrchestrator> orchestrator_;
    SharedAdbSync sharedSync_{runner_, targetProbe_, readiness_};
    std::shared_ptr<MirrorSupervisor> supervisor_;
};

}  // namespace orvan
