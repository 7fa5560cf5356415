#include "glasses-sim/Scheduler.h"

namespace orvan::sim {

Scheduler::Scheduler() : thread_([this] { run(); }) {}

Scheduler::~Scheduler() {
    stop();
}

void Scheduler::after(std::chrono::milliseconds delay, std::function<void()> action) {
    std::lock_guard lock(mutex_);
    if (stopping_) return;
    pending_.emplace(std::chrono::steady_clock::now() + delay, std::move(action));
    wake_.notify_all();
}

void Scheduler::stop() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
        pending_.clear();
        wake_.notify_all();
    }
    if (thread_.joinable() && thread_.get_id() != std::this_thread::get_id()) thread_.join();
}

void Scheduler::run() {
    std::unique_lock lock(mutex_);
    while (!stopping_) {
        if (pending_.empty()) {
            wake_.wait(lock);
            continue;
        }
        const auto due = pending_.begin()->first;
        if (std::chrono::steady_clock::now() < due) {
            wake_.wait_until(lock, due);
            continue;
        }
        auto action = std::move(pending_.begin()->second);
        pending_.erase(pending_.begin());
        lock.unlock();
        action();
        lock.lock();
    }
}

}  // namespace orvan::sim
