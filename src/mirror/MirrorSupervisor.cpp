#include "mirror/MirrorSupervisor.h"

#include <algorithm>

#include "foundation/MirrorError.h"
#include "mirror/ScrcpyFailureCause.h"
#include "platform/Dispatch.h"

namespace orvan {

std::string mirrorRecoveringText(const std::string& name) {
    return "正在恢复投屏（" + name + "）…";
}

std::string mirrorRecoveryStoppedText(const std::string& reason) {
    return "投屏恢复已停止：" + reason;
}

double MirrorSupervisor::backoff(int attempt) {
    static constexpr double kLadder[] = {1.0, 2.0, 4.0, 8.0};
    if (attempt >= 0 && attempt < 4) return kLadder[attempt];
    return 10.0;
}

bool MirrorSupervisor::endedForTransport(const ProcessExit& end, std::string_view output) {
    if (end.reason != ProcessExit::Reason::exited || end.status == 0) return false;
    return classifyScrcpyFailure(output).cause == ScrcpyFailureCause::transportLost;
}

bool MirrorSupervisor::isRetryable(std::exception_ptr error) {
    try {
        std::rethrow_exception(error);
    } catch (const MirrorError& failure) {
        switch (failure.kind()) {
        case MirrorError::Kind::scrcpyVersionMismatch:
        case MirrorError::Kind::deviceUnauthorized:
        case MirrorError::Kind::toolMissing:
        case MirrorError::Kind::toolTooOld:
        case MirrorError::Kind::scrcpyClosedAfterReady:
            return false;
        default:
            return true;
        }
    } catch (const LaunchError&) {
        return false;
    } catch (...) {
        return true;
    }
}

std::shared_ptr<MirrorSupervisor> MirrorSupervisor::create(MirrorSupervisorSettings settings) {
    return std::shared_ptr<MirrorSupervisor>(new MirrorSupervisor(std::move(settings)));
}

MirrorSupervisor::~MirrorSupervisor() = default;

void MirrorSupervisor::watch(SupervisedMirror mirror) {
    bool tookOver = false;
    const std::string identity = mirror.identity, name = mirror.name;
    const MirrorKey key = mirror.processKey;
    MirrorKey oldKey;
    {
        std::lock_guard lock(mutex_);
        auto& entry = entries_[identity];
        tookOver = entry.recovering;
        oldKey = entry.mirror.processKey;
        entry.mirror = std::move(mirror);
        entry.generation = nextGeneration_++;
        entry.recovering = false;
    }
    changed_.notify_all();
    if (!tookOver) return;
    log("投屏已恢复（" + name + "）");
    // Back on its old address the mirror simply runs again; on a new one (a new scan after a new
    // lease) the old window's place is let go, and the new window is the mirror from now on.
    tell(identity, oldKey, oldKey == key ? MirrorRecoveryEvent::recovered : MirrorRecoveryEvent::cancelled, {});
}

bool MirrorSupervisor::mirrorEnded(const MirrorKey& processKey, const ProcessExit& end, std::string_view output) {
    const bool transport = endedForTransport(end, output);
    std::string identity, name;
    uint64_t generation = 0;
    {
        std::lock_guard lock(mutex_);
        auto found = std::find_if(entries_.begin(), entries_.end(), [&](const auto& item) {
            return item.second.mirror.processKey == processKey && !item.second.recovering;
        });
        if (found == entries_.end()) return false;
        if (!transport) {
            entries_.erase(found);
            return false;
        }
        found->second.recovering = true;
        found->second.generation = generation = nextGeneration_++;
        identity = found->first;
        name = found->second.mirror.name;
    }
    log(mirrorRecoveringText(name));
    tell(identity, processKey, MirrorRecoveryEvent::recovering, mirrorRecoveringText(name));
    std::weak_ptr<MirrorSupervisor> weak = weak_from_this();
    auto loop = [weak, identity, generation] {
        if (auto self = weak.lock()) self->recover(identity, generation);
    };
    if (settings_.runInBackground)
        settings_.runInBackground(loop);
    else
        Dispatch::async(loop, QualityOfService::userInitiated);
    return true;
}

void MirrorSupervisor::recover(const std::string& identity, uint64_t generation) {
    Clock& clock = *settings_.clock;
    const auto giveUpAt = deadlineAfter(clock, Seconds(kGiveUpAfter));
    auto stillRecovering = [this, identity, generation] { return isCurrent(identity, generation); };
    for (int attempt = 0;; ++attempt) {
        const double left = std::chrono::duration<double>(giveUpAt - clock.now()).count();
        const double window = std::min(backoff(attempt), std::max(left, 0.0));
        SupervisedMirror mirror;
        {
            std::lock_guard lock(mutex_);
            auto found = entries_.find(identity);
            if (found == entries_.end() || found->second.generation != generation) return;
            mirror = found->second.mirror;
        }
        bool up = false;
        if (settings_.answers)
            up = settings_.answers(mirror.ip, mirror.port, window, stillRecovering);
        else if (!pause(identity, generation, window))
            return;
        if (!isCurrent(identity, generation)) return;
        // Silent at its last address but on the cable: it may have a new address; ask it.
        const bool overUsb = !up && mirror.onUsb && mirror.switchOverUsb && mirror.onUsb();
        if (!isCurrent(identity, generation)) return;
        if (up || overUsb) {
            try {
                std::optional<SupervisedMirror> moved;
                if (overUsb)
                    moved = mirror.switchOverUsb(stillRecovering);
                else
                    mirror.restart(stillRecovering);
                bool current = false;
                bool stopped = false;
                {
                    std::lock_guard lock(mutex_);
                    auto found = entries_.find(identity);
                    stopped = found == entries_.end();
                    if (!stopped && found->second.generation == generation) {
                        found->second.recovering = false;
                        if (moved) found->second.mirror = *moved;  // supervised at its new address
                        current = true;
                    }
                }
                // Stopped while the start ran: the start must not outlive the stop. (A newer
                // start of the same glasses took over instead: it reuses this window.)
                if (stopped && settings_.closeWindow) settings_.closeWindow(moved ? moved->processKey : mirror.processKey);
                if (!current) return;
                log("投屏已恢复（" + mirror.name + "）");
                tell(identity, mirror.processKey, MirrorRecoveryEvent::recovered, {});
                return;
            } catch (const std::exception& error) {
                if (!isCurrent(identity, generation)) return;
                if (!isRetryable(std::current_exception())) {
                    finish(identity, generation, std::string(error.what()));
                    return;
                }
                log("投屏恢复未成功，稍后重试: " + std::string(error.what()));
                // The pair answers but its start failed: the next start waits, not at once.
                const double remaining = std::chrono::duration<double>(giveUpAt - clock.now()).count();
                if (!pause(identity, generation, std::min(backoff(attempt), std::max(remaining, 0.0)))) return;
            }
        }
        if (clock.now() >= giveUpAt) {
            finish(identity, generation, "5 分钟内眼镜没有应答");
            return;
        }
    }
}

bool MirrorSupervisor::isCurrent(const std::string& identity, uint64_t generation) const {
    std::lock_guard lock(mutex_);
    auto found = entries_.find(identity);
    return found != entries_.end() && found->second.generation == generation && found->second.recovering;
}

bool MirrorSupervisor::pause(const std::string& identity, uint64_t generation, double seconds) {
    if (settings_.clock != &SystemClock::shared()) {
        // Virtual time: the wait is asked of the clock, which records it.
        settings_.clock->sleepFor(Seconds(seconds));
        return isCurrent(identity, generation);
    }
    std::unique_lock lock(mutex_);
    auto stopped = [&] {
        auto found = entries_.find(identity);
        return found == entries_.end() || found->second.generation != generation || !found->second.recovering;
    };
    return !changed_.wait_for(lock, Seconds(seconds), stopped);
}

void MirrorSupervisor::finish(const std::string& identity, uint64_t generation,
                              const std::optional<std::string>& stopReason, MirrorRecoveryEvent event) {
    bool wasRecovering = false;
    MirrorKey key;
    {
        std::lock_guard lock(mutex_);
        auto found = entries_.find(identity);
        if (found == entries_.end() || found->second.generation != generation) return;
        wasRecovering = found->second.recovering;
        key = found->second.mirror.processKey;
        entries_.erase(found);
    }
    changed_.notify_all();
    if (wasRecovering && stopReason) {
        log(mirrorRecoveryStoppedText(*stopReason));
        tell(identity, key, event, mirrorRecoveryStoppedText(*stopReason));
    }
}

void MirrorSupervisor::stop(const std::string& identity, const std::string& reason) {
    uint64_t generation = 0;
    {
        std::lock_guard lock(mutex_);
        auto found = entries_.find(identity);
        if (found == entries_.end()) return;
        generation = found->second.generation;
    }
    finish(identity, generation, reason, MirrorRecoveryEvent::cancelled);
}

void MirrorSupervisor::stopAll(const std::string& reason) {
    std::vector<std::pair<std::string, uint64_t>> all;
    {
        std::lock_guard lock(mutex_);
        for (const auto& [identity, entry] : entries_) all.emplace_back(identity, entry.generation);
    }
    for (const auto& [identity, generation] : all) finish(identity, generation, reason, MirrorRecoveryEvent::cancelled);
}

bool MirrorSupervisor::isRecovering(const std::string& identity) const {
    std::lock_guard lock(mutex_);
    auto found = entries_.find(identity);
    return found != entries_.end() && found->second.recovering;
}

std::optional<std::string> MirrorSupervisor::recoveringIdentityOf(const MirrorKey& processKey) const {
    std::lock_guard lock(mutex_);
    for (const auto& [identity, entry] : entries_)
        if (entry.recovering && entry.mirror.processKey == processKey) return identity;
    return std::nullopt;
}

std::vector<std::string> MirrorSupervisor::recoveringIdentities() const {
    std::lock_guard lock(mutex_);
    std::vector<std::string> result;
    for (const auto& [identity, entry] : entries_)
        if (entry.recovering) result.push_back(identity);
    return result;
}

bool MirrorSupervisor::isWatched(const std::string& identity) const {
    std::lock_guard lock(mutex_);
    return entries_.contains(identity);
}

void MirrorSupervisor::setOnEvent(MirrorSupervisorSettings::EventFunction function) {
    std::lock_guard lock(eventMutex_);
    settings_.onEvent = std::move(function);
}

void MirrorSupervisor::tell(const std::string& identity, const MirrorKey& processKey, MirrorRecoveryEvent event,
                            const std::string& text) const {
    MirrorSupervisorSettings::EventFunction function;
    {
        std::lock_guard lock(eventMutex_);
        function = settings_.onEvent;
    }
    if (function) function(identity, processKey, event, text);
}

}  // namespace orvan
