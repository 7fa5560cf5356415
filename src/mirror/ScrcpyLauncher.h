#pragma once

#include <sys/types.h>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "adb/AdbServerScope.h"
#include "foundation/LogSink.h"
#include "foundation/ToolLocation.h"
#include "mirror/ScrcpyChild.h"
#include "mirror/ScrcpyLeftovers.h"
#include "mirror/ScrcpyProcessList.h"
#include "mirror/ScrcpyRegistry.h"
#include "mirror/ScrcpyVersion.h"
#include "platform/Clock.h"
#include "platform/Dispatch.h"
#include "platform/WindowSystem.h"

namespace orvan {


struct ScrcpyLauncherSettings {
    ToolLocation tools;
    int privatePort = kPrivateMirroringPort;
    SharedLogSink log;
    Clock* clock = &SystemClock::shared();
    // None: readiness rests on the output signal alone, and nothing is raised.
    std::shared_ptr<WindowSystem> windows;
    ProcessListRunner processList = systemProcessListRunner();
    // Where window work runs; none: the main queue installed when the launcher is made, or the
    // background pool in a process without one.
    std::shared_ptr<MainQueue> mainQueue;
    // The adb client scrcpy uses for a server scope; none: the tool folder's.
    std::function<std::filesystem::path(AdbServerScope)> adbForScope;
    // Reads the client's version once per binary; none: a reader of the launcher's own.
    std::shared_ptr<ScrcpyVersionReader> versions;
};

// Starts scrcpy windows and keeps the registry of the windows that exist, so that asking twice
// for the same glasses brings the existing window forward instead of opening a second one.
//
// Threads: startScrcpy blocks (up to about 10 s) on its caller's thread. Starts for different
// glasses run side by side: a start reserves its glasses identity and its target for its whole
// run, and a second start that needs either waits for that reservation to end, then finds the
// window the first one opened and reuses it. The registry lock guards short reads and updates
// only (never ps, a wait or the window system), so the main queue never waits on a start. The
// termination callback and bringing windows forward run on the main queue; onGlassShellStarted
// runs on the starting thread.
class ScrcpyLauncher : public std::enable_shared_from_this<ScrcpyLauncher> {
public:
    using ShouldContinue = std::function<bool()>;
    using TerminationCallback = std::function<void(const MirrorKey& key, const std::shared_ptr<ScrcpyChild>&)>;
    using GlassShellCallback = std::function<void(const std::shared_ptr<ScrcpyChild>&)>;

    static constexpr double kReadinessTimeout = 8.0;
    static constexpr double kPollInterval = 0.05;
    static constexpr double kBringToFrontDelay = 0.25;

    static std::shared_ptr<ScrcpyLauncher> create(ScrcpyLauncherSettings settings);
    ScrcpyLauncher(const ScrcpyLauncher&) = delete;
    ScrcpyLauncher& operator=(const ScrcpyLauncher&) = delete;

    // Returns when an existing window was reused, a leftover one adopted, or a new one became
    // ready. Throws MirrorError (cancelled, timed out, failed, or closed normally at once) or
    // the LaunchError of a scrcpy that cannot be started. The registry never keeps an entry for
    // a start that failed.
    void startScrcpy(const std::string& target, bool glassShell, const std::optional<std::string>& mirrorIdentity,
                     const ShouldContinue& shouldContinue, AdbServerScope serverScope);

    // Look-ups; entries found dead are removed on the way.
    std::optional<RunningScrcpyHandle> runningScrcpyHandle(const MirrorKey& key);
    std::optional<RunningScrcpyHandle> runningScrcpyHandleForMirrorIdentity(const std::string& mirrorIdentity);
    bool isMirroring(const std::string& target);
    // The plain window of the target, or else its glasses-shell window.
    bool isAnyMirroring(const std::string& target);
    // The glasses named by identity, by their own serial, or by the wireless target their
    // serial is mirrored through.
    bool isMirroringDevice(const std::string& mirrorIdentity, const std::string& serial,
                           const std::optional<std::string>& mappedTarget);

    // Removes a key from every map; with an expected child only when that very child is the one
    // registered (a newer start under the same key is left alone).
    void clearScrcpyProcess(const MirrorKey& key, const std::shared_ptr<ScrcpyChild>& expectedProcess);
    void bringScrcpyToFront(const RunningScrcpyHandle& handle);
    std::optional<std::string> scrcpyStartupReadinessSignal(ScrcpyChild& process);

    // Closing windows (the stops of the orchestration). Each key's child loses its termination
    // callback, is unregistered and sent SIGTERM; an adopted pid is unregistered and sent SIGTERM.
    std::vector<MirrorKey> registeredProcessKeys();
    std::vector<MirrorKey> processKeysWithMirrorIdentity(const std::string& mirrorIdentity);
    void stopProcessKeys(const std::vector<MirrorKey>& processKeys);

    // The registered windows, and the children launched in this run.
    ScrcpyRegistry& registry() { return registry_; }
    // Every start in progress ends on its cancel path (its window closed, nothing registered) at
    // its next check; returns at once. Starts that begin afterwards are not affected.
    void cancelStartsInProgress();
    // The app quits: as cancelStartsInProgress, and every later start fails at once with the
    // cancellation kind and launches nothing.
    void closeForTermination();

    void setAudioForwardingEnabled(bool enabled) { audioForwardingEnabled_.store(enabled); }
    bool isAudioForwardingEnabled() const { return audioForwardingEnabled_.load(); }
    void setOnScrcpyTerminated(TerminationCallback callback);
    void setOnGlassShellStarted(GlassShellCallback callback);

private:
    explicit ScrcpyLauncher(ScrcpyLauncherSettings settings);

    class Reservation;
    // Blocks until no other start holds the identity or the target, then holds both; throws the
    // cancel error when the start is cancelled meanwhile.
    Reservation reserve(const std::string& target, const std::string& identity, const ShouldContinue& shouldContinue);
    bool isCancelled(uint64_t generation);
    bool isClosed();
    bool reuseRunningWindow(const std::string& target, const std::string& identity);
    bool adoptLeftover(const MirrorKey& key, const std::string& identity);
    std::shared_ptr<ScrcpyChild> launchChild(const MirrorKey& key, const std::string& identity,
                                             AdbServerScope serverScope, const ShouldContinue& shouldContinue);
    void awaitReadiness(const std::shared_ptr<ScrcpyChild>& child, const MirrorKey& key,
                        const ShouldContinue& shouldContinue);
    [[noreturn]] void cancelStart(const std::shared_ptr<ScrcpyChild>& child, const MirrorKey& key);
    void endStart(const std::shared_ptr<ScrcpyChild>& child, const MirrorKey& key);
    [[noreturn]] void failAfterExit(const std::shared_ptr<ScrcpyChild>& child, const MirrorKey& key,
                                    std::optional<std::string> signal);
    void handleTermination(const MirrorKey& key, const std::shared_ptr<ScrcpyChild>& child, const ProcessExit& end);
    void installTerminationHandler(const std::shared_ptr<ScrcpyChild>& child, const MirrorKey& key);
    bool hasVisibleWindowOf(pid_t pid, bool alwaysOnTop);
    void onMain(Seconds delay, Task task);
    void log(const std::string& message) const { (*settings_.log)(message); }

    ScrcpyLauncherSettings settings_;
    std::atomic<bool> audioForwardingEnabled_{true};

    // Reservations of the starts in progress, and the cancel generation they started in.
    std::mutex reservationMutex_;
    std::condition_variable reservationReleased_;
    std::multiset<std::string> reservedNames_;
    uint64_t cancelGeneration_ = 0;
    bool closed_ = false;

    ScrcpyRegistry registry_;
    ScrcpyLeftovers leftovers_;

    std::mutex callbackMutex_;
    TerminationCallback onScrcpyTerminated_;
    GlassShellCallback onGlassShellStarted_;
};

// Whether one entry of the window list is a shown window of `pid`: an ordinary window (layer 0)
// larger than 80×80, which rules out the tiny helper windows a client maps while it starts. A
// window the app itself asked to keep on top (the glasses-shell window) is reported one layer
// up and counts too.
bool hasVisibleScrcpyWindow(const WindowInfo& window, pid_t pid, bool alwaysOnTop = false);

}  // namespace orvan
