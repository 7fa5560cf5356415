#pragma once

#include <sys/types.h>

#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "mirror/MirrorKey.h"
#include "mirror/ScrcpyChild.h"

namespace orvan {

// The live handle of one registered mirror window: a child started by this run, or the pid of
// a scrcpy left over from an earlier run that was adopted.
struct RunningScrcpyHandle {
    std::shared_ptr<ScrcpyChild> process;  // set for a child of ours
    pid_t externalPid = 0;                 // set for an adopted process

    bool isExternal() const { return !process; }
    pid_t pid() const { return process ? process->pid() : externalPid; }
};

// The mirror windows the launcher has registered, by key (target and window kind), each with the
// identity of its glasses; and every child launched in this run, registered or not, until it has
// ended. One plain mutex guards short reads and updates; liveness checks and the output pipe's
// release happen outside it. Safe on any thread.
class ScrcpyRegistry {
public:
    struct Entry {
        RunningScrcpyHandle handle;
        std::string identity;
    };

    // Registers a child of ours under the key (replacing what was there) and remembers it as
    // launched.
    void addChild(const MirrorKey& key, const std::shared_ptr<ScrcpyChild>& child, const std::string& identity);
    // Registers an adopted leftover's pid under the key.
    void adopt(const MirrorKey& key, pid_t pid, const std::string& identity);
    // Removes the key; with an expected child only when that very child is the one registered
    // (a newer start under the same key is left alone). A removed child's output pipe stops
    // being read by the launcher. Returns the removed entry.
    std::optional<Entry> remove(const MirrorKey& key, const std::shared_ptr<ScrcpyChild>& expected = nullptr);
    // The key's window while it runs; an entry found dead is removed on the way.
    std::optional<RunningScrcpyHandle> running(const MirrorKey& key);

    std::map<MirrorKey, Entry> entries() const;
    std::vector<MirrorKey> keys() const;
    std::vector<MirrorKey> keysWithIdentity(const std::string& identity) const;
    // Children of ours that have not ended yet, registered or not (a stopped window takes a
    // moment to close).
    std::vector<std::shared_ptr<ScrcpyChild>> launchedChildrenNotEnded() const;

private:
    mutable std::mutex mutex_;
    std::map<MirrorKey, Entry> entries_;
    std::vector<std::weak_ptr<ScrcpyChild>> launched_;
};

// A pid of another process is alive when a null signal reaches it, or is refused only because
// the process belongs to someone else.
bool isProcessAlive(pid_t pid);

}  // namespace orvan
