#pragma once

#include <condition_variable>
#include <deque>
#include <mutex>
#include <string>

#include "adb/AdbRunner.h"
#include "adb/AdbTargetProbe.h"
#include "mirror/TargetReadiness.h"

namespace orvan {

// Makes a wireless target that is mirrored on the private server visible to the shared server
// too, so that a developer's IDE can keep debugging the glasses. Best effort, in the background:
// it never fails the mirror and only reports in the log.
class SharedAdbSync {
public:
    static constexpr double kAnswerTimeout = 1.0;
    static constexpr double kOfflineDisconnectTimeout = 3.0;
    static constexpr double kConnectTimeout = 4.0;
    static constexpr double kSettleTimeout = 2.0;

    SharedAdbSync(const AdbRunner& runner, const AdbTargetProbe& probe, const TargetReadiness& readiness)
        : runner_(runner), probe_(probe), readiness_(readiness) {}
    // Waits for syncs still running: they use the runner and the probes.
    ~SharedAdbSync();
    SharedAdbSync(const SharedAdbSync&) = delete;
    SharedAdbSync& operator=(const SharedAdbSync&) = delete;

    // Returns at once. With the private scope the target joins a queue that one background task
    // (utility) works through, one target at a time: when a classroom of pairs starts at once,
    // their syncs wait their turn instead of crowding out the mirrors still starting. A target
    // already waiting is not queued twice. With the shared scope there is nothing to do.
    void syncWirelessTargetToSharedAdb(const std::string& ip, int port, AdbServerScope sourceScope);
    // The work itself, on the calling thread.
    void syncNow(const std::string& target) const;
    // Blocks until the queue is worked through (tests and shutdown).
    void waitUntilIdle();

private:
    void log(const std::string& message) const { (*runner_.log())(message); }
    void drain();

    const AdbRunner& runner_;
    const AdbTargetProbe& probe_;
    const TargetReadiness& readiness_;
    std::mutex mutex_;
    std::condition_variable idle_;
    std::deque<std::string> waiting_;
    bool draining_ = false;
};

}  // namespace orvan
