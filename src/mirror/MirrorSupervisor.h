#pragma once

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "foundation/LogSink.h"
#include "mirror/MirrorKey.h"
#include "platform/Clock.h"
#include "platform/Process.h"

namespace orvan {

// One mirror the user started (manual page or scan), as its supervisor needs it to start it
// again the way it was started the first time.
struct SupervisedMirror {
    std::string identity;     // the glasses' mirror identity; one supervisor per pair
    std::string name;         // shown in the recovering text
    MirrorKey processKey;     // the launcher's key of its window
    std::string ip;           // the pair's last address
    int port = 5555;
    // Reconnects wireless ADB and starts the mirror through the normal start path (same window
    // kind, same identity). Blocks; throws MirrorError (or another error) when the start fails.
    // `shouldContinue` turns false as soon as the supervisor is stopped.
    std::function<void(const std::function<bool()>& shouldContinue)> restart;
    // The glasses may come back on a new address: whether they are attached by USB now (blocks),
    // and the switch to wireless over that cable, which starts the mirror on the address the
    // glasses report and returns the mirror as it runs from then on. None: no such switch.
    std::function<bool()> onUsb;
    std::function<SupervisedMirror(const std::function<bool()>& shouldContinue)> switchOverUsb;
};

// `stopped`: the supervisor gave up (five minutes, a failure that is not a transport failure);
// the pages say the mirror ended. `cancelled`: the user or the app ended it (stop, disconnect,
// quit, a disable code); whoever did says so, and the pages only let the mirror go.
enum class MirrorRecoveryEvent { recovering, recovered, stopped, cancelled };

struct MirrorSupervisorSettings {
    Clock* clock = &SystemClock::shared();
    SharedLogSink log;
    // Watches the pair's ADB port at its address for up to `window` seconds (blocks): true as
    // soon as it answers; false when the window passed without an answer, or soon after
    // `shouldContinue` turned false.
    std::function<bool(const std::string& ip, int port, double window, const std::function<bool()>& shouldContinue)>
        answers;
    // Told (on the supervisor's thread, or the caller's for `recovering` and stops) whenever a
    // mirror enters recovery, is running again, or its supervisor ended while it recovered.
    using EventFunction = std::function<void(const std::string& identity, const MirrorKey& processKey,
                                             MirrorRecoveryEvent event, const std::string& text)>;
    EventFunction onEvent;
    // Closes the window of a restart that finished after its supervisor was stopped (the user's
    // stop won the race against the start); none: such a window stays.
    std::function<void(const MirrorKey& processKey)> closeWindow;
    // Runs the recovery loops; none: the background pool.
    std::function<void(std::function<void()>)> runInBackground;
};

// Brings back the mirrors whose glasses went away for a while (Wi-Fi drop, sleep, out of range):
// when a supervised window ends for a transport reason, its pair is probed at its last address
// with backoff (probes lasting 1, 2, 4, 8 s, then 10 s each) for up to 5 minutes, and as soon as
// it answers the mirror is started again. A probe keeps watching the port for its whole length,
// so the start follows the pair's return at once rather than at the next step of the ladder; a
// start that fails waits the same ladder before the next probe. The user's stop, a disconnect, quit, a disable code, the five minutes,
// or a failure that is not a transport failure end the supervisor.
//
// Threads: every call is quick and may come from any thread; the lock guards the table only.
// The probes and starts run on a background thread per recovering mirror.
class MirrorSupervisor : public std::enable_shared_from_this<MirrorSupervisor> {
public:
    static constexpr double kGiveUpAfter = 300.0;
    // The wait before the given attempt (0-based): 1, 2, 4, 8, then 10 s.
    static double backoff(int attempt);
    // Whether a window that had been ready ended because its glasses went away.
    static bool endedForTransport(const ProcessExit& end, std::string_view output);
    // Whether a failed restart may be tried again later.
    static bool isRetryable(std::exception_ptr error);

    static std::shared_ptr<MirrorSupervisor> create(MirrorSupervisorSettings settings);
    ~MirrorSupervisor();

    // A user start succeeded: supervise it. The same glasses again (a new scan, maybe on a new
    // address) replace the entry and end a recovery in progress: the new start took it over.
    void watch(SupervisedMirror mirror);
    // A supervised window ended. True when its glasses are now recovering (the caller keeps the
    // mirror's tab and button); false when the mirror simply ended (and is no longer supervised).
    bool mirrorEnded(const MirrorKey& processKey, const ProcessExit& end, std::string_view output);
    // The user stopped or disconnected the glasses, or a disable code came: no further start.
    void stop(const std::string& identity, const std::string& reason);
    void stopAll(const std::string& reason);

    bool isRecovering(const std::string& identity) const;
    std::optional<std::string> recoveringIdentityOf(const MirrorKey& processKey) const;
    std::vector<std::string> recoveringIdentities() const;
    bool isWatched(const std::string& identity) const;
    // Replaces the settings' onEvent (the app sets it once its pages exist).
    void setOnEvent(MirrorSupervisorSettings::EventFunction function);

private:
    explicit MirrorSupervisor(MirrorSupervisorSettings settings) : settings_(std::move(settings)) {}

    struct Entry {
        SupervisedMirror mirror;
        uint64_t generation = 0;
        bool recovering = false;
    };
    void recover(const std::string& identity, uint64_t generation);
    bool isCurrent(const std::string& identity, uint64_t generation) const;
    // Waits `seconds` unless the recovery is stopped meanwhile; false when it was.
    bool pause(const std::string& identity, uint64_t generation, double seconds);
    // Ends the entry when it is still that generation; logs the stop line once when it recovered.
    void finish(const std::string& identity, uint64_t generation, const std::optional<std::string>& stopReason,
                MirrorRecoveryEvent event = MirrorRecoveryEvent::stopped);
    void tell(const std::string& identity, const MirrorKey& processKey, MirrorRecoveryEvent event,
              const std::string& text) const;
    void log(const std::string& line) const {
        if (settings_.log) (*settings_.log)(line);
    }

    MirrorSupervisorSettings settings_;
    mutable std::mutex eventMutex_;  // guards settings_.onEvent
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::map<std::string, Entry> entries_;
    uint64_t nextGeneration_ = 1;
};

std::string mirrorRecoveringText(const std::string& name);
std::string mirrorRecoveryStoppedText(const std::string& reason);

}  // namespace orvan
