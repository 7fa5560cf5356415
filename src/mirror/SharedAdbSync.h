#pragma once

#include <condition_variable>
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

    // Returns at once. With the private scope the work runs on the background pool (utility);
    // with the shared scope there is nothing to do.
    void syncWirelessTargetToSharedAdb(const std::string& ip, int port, AdbServerScope sourceScope);
    // The work itself, on the calling thread.
    void syncNow(const std::string& target) const;
    // Blocks until no sync is running (tests and shutdown).
    void waitUntilIdle();

private:
    void log(const std::string& message) const { (*runner_.log())(message); }

    const AdbRunner& runner_;
    const AdbTargetProbe& probe_;
    const TargetReadiness& readiness_;
    std::mutex mutex_;
    std::condition_variable idle_;
    int running_ = 0;
};

}  // namespace orvan
