#pragma once

#include <condition_variable>
#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <string>

#include "adb/AdbRunner.h"
#include "adb/AdbServerScope.h"

namespace orvan {

// One `adb devices` listing per server for callers that ask at the same time: when a classroom
// of pairs scans one code, their first looks at the servers share a few listings instead of
// running a command each. A caller always gets a listing that began after it asked, so it never
// sees a state older than its question: it starts one when none runs, or waits for the run that
// follows the one under way, shared with everyone who asked meanwhile.
//
// The lock guards the counters only; the command runs outside it.
class CoalescedDeviceListing {
public:
    static constexpr double kTimeout = 3.0;  // seconds

    explicit CoalescedDeviceListing(const AdbRunner& runner) : runner_(runner) {}

    // The listing's output; nullopt when the command failed, timed out or could not start.
    std::optional<std::string> fresh(AdbServerScope scope);

private:
    struct Flights {
        uint64_t started = 0;
        uint64_t completed = 0;
        bool running = false;
        std::optional<std::string> result;
    };

    const AdbRunner& runner_;
    std::mutex mutex_;
    std::condition_variable done_;
    std::map<AdbServerScope, Flights> flights_;
};

}  // namespace orvan
