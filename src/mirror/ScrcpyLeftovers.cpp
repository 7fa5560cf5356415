#include "mirror/ScrcpyLeftovers.h"

#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <exception>
#include <set>
#include <utility>

#include "foundation/Text.h"
#include "platform/Process.h"

namespace orvan {

ScrcpyLeftovers::ScrcpyLeftovers(ScrcpyRegistry& registry, ProcessListRunner processList, SharedLogSink log,
                                 Clock& clock)
    : registry_(registry), processList_(std::move(processList)), log_(std::move(log)), clock_(clock) {}

std::optional<pid_t> ScrcpyLeftovers::adoptOrEnd(const MirrorKey& key, const std::string& identity) {
    const std::string& target = key.target;
    // Our own children never count as leftovers, also those stopped a moment ago that are
    // still closing: adopting one of them would "reuse" a window that is about to vanish.
    std::set<pid_t> owned;
    for (const auto& [_, entry] : registry_.entries())
        if (entry.handle.process) owned.insert(entry.handle.pid());
    for (const auto& child : registry_.launchedChildrenNotEnded()) owned.insert(child->pid());
    const std::vector<int32_t> listed = listedProcessIds(target);

    // A process forked by a scrcpy shows its parent's command line until it runs something else
    // (scrcpy forks for adb; a sanitizer forks a tracer at exit). It is no window of its own:
    // skip the forks of our children and of the other listed processes, and whatever has gone
    // since the listing (such a fork is short-lived).
    std::set<pid_t> parents(owned);
    parents.insert(listed.begin(), listed.end());
    owned.insert(::getpid());
    std::vector<pid_t> candidates;
    for (int32_t pid : listed) {
        if (owned.contains(pid)) continue;
        if (auto parent = parentProcessId(pid); !parent || parents.contains(*parent)) continue;
        candidates.push_back(pid);
    }
    if (candidates.empty()) return std::nullopt;

    if (candidates.size() == 1) {
        registry_.adopt(key, candidates.front(), identity);
        log("检测到遗留 scrcpy，复用现有窗口: " + target);
        return candidates.front();
    }
    for (pid_t pid : candidates) {
        ::kill(pid, SIGTERM);
        log("已结束同一眼镜的重复 scrcpy 进程: " + std::to_string(pid));
    }
    auto deadline = deadlineAfter(clock_, Seconds(kDuplicateExitTimeout));
    while (clock_.now() < deadline && std::any_of(candidates.begin(), candidates.end(), isProcessAlive))
        clock_.sleepFor(Seconds(kPollInterval));
    return std::nullopt;
}

std::vector<int32_t> ScrcpyLeftovers::listedProcessIds(const std::string& target) {
    FiniteRun run;
    try {
        run = processList_();
    } catch (const std::exception& error) {
        log(std::string("检查现有 scrcpy 进程失败: ") + error.what());
        return {};
    }
    if (run.timedOut || run.status != 0 || !text::isValidUtf8(run.bytes)) return {};
    return scrcpyProcessIdsInListing(run.bytes, target);
}

}  // namespace orvan
