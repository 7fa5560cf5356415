#include "mirror/ScrcpyRegistry.h"

#include <signal.h>

#include <cerrno>

namespace orvan {

bool isProcessAlive(pid_t pid) {
    return pid > 0 && (::kill(pid, 0) == 0 || errno == EPERM);
}

void ScrcpyRegistry::addChild(const MirrorKey& key, const std::shared_ptr<ScrcpyChild>& child,
                              const std::string& identity) {
    std::lock_guard lock(mutex_);
    entries_[key] = Entry{RunningScrcpyHandle{child, 0}, identity};
    std::erase_if(launched_, [](const std::weak_ptr<ScrcpyChild>& weak) { return weak.expired(); });
    launched_.push_back(child);
}

void ScrcpyRegistry::adopt(const MirrorKey& key, pid_t pid, const std::string& identity) {
    std::lock_guard lock(mutex_);
    entries_[key] = Entry{RunningScrcpyHandle{nullptr, pid}, identity};
}

std::optional<ScrcpyRegistry::Entry> ScrcpyRegistry::remove(const MirrorKey& key,
                                                            const std::shared_ptr<ScrcpyChild>& expected) {
    std::optional<Entry> removed;
    {
        std::lock_guard lock(mutex_);
        auto found = entries_.find(key);
        if (found == entries_.end() || (expected && found->second.handle.process != expected)) return std::nullopt;
        removed = std::move(found->second);
        entries_.erase(found);
    }
    if (removed->handle.process) removed->handle.process->outputPipe()->removeReader();
    return removed;
}

std::optional<RunningScrcpyHandle> ScrcpyRegistry::running(const MirrorKey& key) {
    std::optional<RunningScrcpyHandle> handle;
    {
        std::lock_guard lock(mutex_);
        if (auto found = entries_.find(key); found != entries_.end()) handle = found->second.handle;
    }
    if (!handle) return std::nullopt;
    bool alive = handle->process ? handle->process->isRunning() : isProcessAlive(handle->externalPid);
    if (alive) return handle;
    // Gone: unregister it, unless a newer window took the key meanwhile.
    if (handle->process) {
        remove(key, handle->process);
    } else {
        std::lock_guard lock(mutex_);
        if (auto found = entries_.find(key);
            found != entries_.end() && !found->second.handle.process &&
            found->second.handle.externalPid == handle->externalPid)
            entries_.erase(found);
    }
    return std::nullopt;
}

std::map<MirrorKey, ScrcpyRegistry::Entry> ScrcpyRegistry::entries() const {
    std::lock_guard lock(mutex_);
    return entries_;
}

std::vector<MirrorKey> ScrcpyRegistry::keys() const {
    std::lock_guard lock(mutex_);
    std::vector<MirrorKey> keys;
    for (const auto& [key, _] : entries_) keys.push_back(key);
    return keys;
}

std::vector<MirrorKey> ScrcpyRegistry::keysWithIdentity(const std::string& identity) const {
    std::lock_guard lock(mutex_);
    std::vector<MirrorKey> keys;
    for (const auto& [key, entry] : entries_)
        if (entry.identity == identity) keys.push_back(key);
    return keys;
}

std::vector<std::shared_ptr<ScrcpyChild>> ScrcpyRegistry::launchedChildrenNotEnded() const {
    std::vector<std::shared_ptr<ScrcpyChild>> children;
    {
        std::lock_guard lock(mutex_);
        for (const auto& weak : launched_)
            if (auto child = weak.lock()) children.push_back(std::move(child));
    }
    std::erase_if(children, [](const std::shared_ptr<ScrcpyChild>& child) { return child->hasEnded(); });
    return children;
}

}  // namespace orvan
