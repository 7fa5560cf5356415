#pragma once

#include <condition_variable>
#include <cstddef>
#include <memory>
#include <mutex>

#include "platform/Clock.h"
#include "platform/Dispatch.h"

namespace orvan {

namespace detail {
// A stop token's state, shared by its source, its copies and the tasks a scope counts.
struct StopState {
    mutable std::mutex mutex;
    std::condition_variable changed;
    bool stopped = false;
    size_t running = 0;
};
}  // namespace detail

// What background work checks between its steps and hands to its waits. It is set once, by the
// work's owner, and never cleared. A default token never stops.
class StopToken {
public:
    StopToken() = default;
    bool stopRequested() const;
    // Waits `duration`, or less when the stop comes first; true when stopped.
    bool waitFor(Seconds duration) const;

private:
    friend class StopSource;
    friend class TaskScope;
    explicit StopToken(std::shared_ptr<detail::StopState> state) : state_(std::move(state)) {}
    std::shared_ptr<detail::StopState> state_;
};

// The owner's side of a stop token.
class StopSource {
public:
    StopSource() : state_(std::make_shared<detail::StopState>()) {}
    StopToken token() const { return StopToken(state_); }
    // Sets the token and wakes every wait on it; returns at once.
    void stop();
    bool stopRequested() const { return token().stopRequested(); }

private:
    std::shared_ptr<detail::StopState> state_;
};

// The background work of one owner: its tasks run on the pool, see the owner's stop token, and
// are counted until they return, so the owner can stop them and wait for them. Once stopped, the
// scope starts nothing more. Destruction stops it and does not wait: an owner that must outlive
// its tasks joins them first.
class TaskScope {
public:
    TaskScope() : state_(std::make_shared<detail::StopState>()) {}
    ~TaskScope() { stop(); }
    TaskScope(const TaskScope&) = delete;
    TaskScope& operator=(const TaskScope&) = delete;

    StopToken token() const { return StopToken(state_); }
    // Runs the task on the pool; false (and nothing runs) once the scope is stopped.
    bool async(Task task, QualityOfService quality = QualityOfService::utility);
    // The task counted from now until it has run, for a queue of the owner's own (a serial
    // queue); none once the scope is stopped. The queue must run what it is given.
    Task counted(Task task);
    void stop();
    bool stopRequested() const { return token().stopRequested(); }
    // Tasks started and not yet returned; no waiting.
    size_t running() const;
    // Waits until no task of the scope runs, or the deadline; true when none runs. Blocks: never
    // on the main thread, which polls `running` while it serves its queue.
    bool joinUntil(SteadyTime deadline) const;

private:
    std::shared_ptr<detail::StopState> state_;
};

}  // namespace orvan
