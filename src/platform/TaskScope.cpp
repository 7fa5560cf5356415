#include "platform/TaskScope.h"

namespace orvan {

namespace {

void setStopped(detail::StopState& state) {
    {
        std::lock_guard lock(state.mutex);
        state.stopped = true;
    }
    state.changed.notify_all();
}

}  // namespace

bool StopToken::stopRequested() const {
    if (!state_) return false;
    std::lock_guard lock(state_->mutex);
    return state_->stopped;
}

bool StopToken::waitFor(Seconds duration) const {
    if (!state_) {
        SystemClock::shared().sleepFor(duration);
        return false;
    }
    std::unique_lock lock(state_->mutex);
    return state_->changed.wait_for(lock, duration, [this] { return state_->stopped; });
}

void StopSource::stop() {
    setStopped(*state_);
}

void TaskScope::stop() {
    setStopped(*state_);
}

bool TaskScope::async(Task task, QualityOfService quality) {
    Task run = counted(std::move(task));
    if (!run) return false;
    Dispatch::async(std::move(run), quality);
    return true;
}

Task TaskScope::counted(Task task) {
    {
        std::lock_guard lock(state_->mutex);
        if (state_->stopped) return nullptr;
        ++state_->running;
    }
    // Counted down however the task ends, and only once what it captured is gone. A task never
    // run (its queue dropped it) is counted down when dropped.
    struct Count {
        std::shared_ptr<detail::StopState> state;
        explicit Count(std::shared_ptr<detail::StopState> counted) : state(std::move(counted)) {}
        Count(const Count&) = delete;
        ~Count() {
            {
                std::lock_guard lock(state->mutex);
                --state->running;
            }
            state->changed.notify_all();
        }
    };
    auto count = std::make_shared<Count>(state_);
    auto body = std::make_shared<Task>(std::move(task));
    return [count = std::move(count), body = std::move(body)]() mutable {
        auto done = std::move(count);
        Task run = std::move(*body);
        body.reset();
        run();
    };
}

size_t TaskScope::running() const {
    std::lock_guard lock(state_->mutex);
    return state_->running;
}

bool TaskScope::joinUntil(SteadyTime deadline) const {
    std::unique_lock lock(state_->mutex);
    return state_->changed.wait_until(lock, deadline, [this] { return state_->running == 0; });
}

}  // namespace orvan
