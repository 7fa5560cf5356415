#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "platform/Clock.h"

namespace orvan {

using Task = std::function<void()>;

// The thread that owns window and controller state. In the app it is Qt's event loop; in tests a
// ManualMainQueue that the test drives.
class MainQueue {
public:
    virtual ~MainQueue() = default;
    virtual void post(Task task) = 0;
    virtual void postAfter(Seconds delay, Task task) = 0;
};

// Priority hints of background work; on Linux they only order nothing and are kept for intent.
enum class QualityOfService { userInitiated, utility, background };

// Process-wide dispatch: the main queue the app installed, and an elastic background pool.
// Blocking `adb` calls are normal on the pool, so it starts a new thread whenever no idle one is
// waiting (up to a generous cap) instead of queueing behind blocked work.
class Dispatch {
public:
    static void setMain(std::shared_ptr<MainQueue> queue);
    static MainQueue& main();
    // The installed main queue, or a queue that runs its tasks on the background pool when this
    // process has no main loop (a tool, a benchmark, a core test). For components that take
    // their queue once, when they are made.
    static std::shared_ptr<MainQueue> mainOrBackground();
    static void async(Task task, QualityOfService quality = QualityOfService::utility);
    // Pool tasks queued or running (serial queues' runs included); no lock taken.
    static size_t backgroundTasksInFlight();

    // Where a background task (pool, serial queue, watcher thread) that throws is reported: one
    // line naming the place and the error, never nothing. The app points it at its activity log;
    // until then (and after nullptr) the line goes to standard error. Called on any thread.
    using FailureReporter = std::function<void(const std::string& line)>;
    static void setFailureReporter(FailureReporter reporter);
    // Reports the exception in flight; call it from a catch block. `where` names the thread.
    static void reportTaskFailure(const std::string& where);
};

// Runs tasks one at a time, in order, on a thread of its own (started on first use, ended when
// idle). Destruction waits for queued tasks.
class SerialQueue {
public:
    explicit SerialQueue(std::string label);
    ~SerialQueue();
    SerialQueue(const SerialQueue&) = delete;
    SerialQueue& operator=(const SerialQueue&) = delete;

    const std::string& label() const { return label_; }
    void async(Task task);
    // Runs the task on the queue and waits for it.
    void sync(const Task& task);

private:
    void drain();

    std::string label_;
    std::mutex mutex_;
    std::condition_variable idle_;
    std::deque<Task> tasks_;
    bool draining_ = false;
};

// The test main queue: tasks run when the test calls runPending or runUntil, on the test thread.
class ManualMainQueue final : public MainQueue {
public:
    void post(Task task) override;
    void postAfter(Seconds delay, Task task) override;
    // Runs every task that is due now; returns how many ran.
    size_t runPending();
    // Runs due tasks until the predicate holds or the time-out passes; returns the predicate.
    bool runUntil(const std::function<bool()>& predicate, Seconds timeout);

private:
    struct Timed {
        SteadyTime due;
        Task task;
    };
    std::mutex mutex_;
    std::condition_variable posted_;
    std::deque<Timed> tasks_;
};

}  // namespace orvan
