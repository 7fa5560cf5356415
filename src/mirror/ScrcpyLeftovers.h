#pragma once

#include <sys/types.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "foundation/LogSink.h"
#include "mirror/MirrorKey.h"
#include "mirror/ScrcpyProcessList.h"
#include "mirror/ScrcpyRegistry.h"
#include "platform/Clock.h"

namespace orvan {

// The scrcpy windows an earlier run of the app left open. Before a start launches a client, the
// system's process list is asked for clients that mirror the same target: exactly one is adopted
// (registered under the start's key, its pid standing for the window); two or more are ended,
// and the start goes on to launch its own.
//
// Threads: runs on a start's thread and blocks for the process list and, after ending
// duplicates, up to kDuplicateExitTimeout while they close.
class ScrcpyLeftovers {
public:
    static constexpr double kDuplicateExitTimeout = 1.5;
    static constexpr double kPollInterval = 0.05;

    // The registry holds our own children (never leftovers) and receives an adopted pid.
    ScrcpyLeftovers(ScrcpyRegistry& registry, ProcessListRunner processList, SharedLogSink log, Clock& clock);
    ScrcpyLeftovers(const ScrcpyLeftovers&) = delete;
    ScrcpyLeftovers& operator=(const ScrcpyLeftovers&) = delete;

    // The adopted pid, now registered under `key` with `identity`; none when there was no
    // leftover, or several that were ended.
    std::optional<pid_t> adoptOrEnd(const MirrorKey& key, const std::string& identity);

private:
    // The listed scrcpy processes that mirror the target; none when the list cannot be read.
    std::vector<int32_t> listedProcessIds(const std::string& target);
    void log(const std::string& message) const { (*log_)(message); }

    ScrcpyRegistry& registry_;
    ProcessListRunner processList_;
    SharedLogSink log_;
    Clock& clock_;
};

}  // namespace orvan
