#include "platform/Dispatch.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <exception>
#include <stdexcept>
#include <thread>

namespace orvan {
namespace {

class ElasticPool {
public:
    static ElasticPool& shared() {
        // Leaked on purpose: detached workers may still run while static destructors do.
        static auto* pool = new ElasticPool;
        return *pool;
    }

    size_t inFlight() const { return inFlight_.load(); }

    void async(Task task) {
        inFlight_.fetch_add(1);
        std::unique_lock lock(mutex_);
        tasks_.push_back(std::move(task));
        // An idle worker counts until it has taken a task: two tasks posted before a woken worker
        // runs must not both count on it, or the second waits behind whatever the first blocks on.
        if (idle_ >= tasks_.size()) {
            wake_.notify_one();
            return;
        }
        if (threads_ >= kMaxThreads) return;  // a busy worker takes it next
        ++threads_;
        lock.unlock();
        std::thread([this] { work(); }).detach();
    }

private:
    static constexpr size_t kMaxThreads = 256;
    static constexpr auto kIdleLifetime = std::chrono::seconds(10);

    void work() {
        std::unique_lock lock(mutex_);
        for (;;) {
            if (tasks_.empty()) {
                ++idle_;
                bool woke = wake_.wait_for(lock, kIdleLifetime, [this] { return !tasks_.empty(); });
                --idle_;
                if (!woke) break;
            }
            Task task = std::move(tasks_.front());
            tasks_.pop_front();
            lock.unlock();
            runGuarded(task);
            task = nullptr;  // what it captured goes before it counts as done
            inFlight_.fetch_sub(1);
            lock.lock();
        }
        --threads_;
    }

    static void runGuarded(const Task& task) {
        try {
            task();
        } catch (...) {
            // One that escapes must not take the pool down, and must not vanish unseen.
            Dispatch::reportTaskFailure("后台线程池");
        }
    }

    std::atomic<size_t> inFlight_{0};  // queued or running
    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<Task> tasks_;
    size_t threads_ = 0;
    size_t idle_ = 0;
};

std::mutex mainMutex;
std::shared_ptr<MainQueue> mainQueue;

std::mutex reporterMutex;
Dispatch::FailureReporter failureReporter;

}  // namespace

void Dispatch::setFailureReporter(FailureReporter reporter) {
    std::lock_guard lock(reporterMutex);
    failureReporter = std::move(reporter);
}

void Dispatch::reportTaskFailure(const std::string& where) {
    std::string what = "未知异常";
    try {
        throw;
    } catch (const std::exception& error) {
        what = error.what();
    } catch (...) {
    }
    const std::string line = "后台任务异常 (" + where + "): " + what;
    FailureReporter reporter;
    {
        std::lock_guard lock(reporterMutex);
        reporter = failureReporter;
    }
    try {
        if (reporter) return reporter(line);
    } catch (...) {
        // The reporter failed too: fall back to standard error below.
    }
    std::fprintf(stderr, "%s\n", line.c_str());
}

void Dispatch::setMain(std::shared_ptr<MainQueue> queue) {
    std::lock_guard lock(mainMutex);
    mainQueue = std::move(queue);
}

MainQueue& Dispatch::main() {
    std::lock_guard lock(mainMutex);
    if (!mainQueue) throw std::logic_error("no main queue installed");
    return *mainQueue;
}

namespace {

// Stands in for the main queue in a process without a main loop. A delayed task waits on a pool
// thread; the order of tasks posted together is not kept.
class BackgroundQueue final : public MainQueue {
public:
    void post(Task task) override { Dispatch::async(std::move(task)); }
    void postAfter(Seconds delay, Task task) override {
        Dispatch::async([delay, task = std::move(task)] {
            if (delay.count() > 0) std::this_thread::sleep_for(delay);
            task();
        });
    }
};

}  // namespace

std::shared_ptr<MainQueue> Dispatch::mainOrBackground() {
    {
        std::lock_guard lock(mainMutex);
        if (mainQueue) return mainQueue;
    }
    static const auto background = std::make_shared<BackgroundQueue>();
    return background;
}

void Dispatch::async(Task task, QualityOfService) {
    ElasticPool::shared().async(std::move(task));
}

size_t Dispatch::backgroundTasksInFlight() {
    return ElasticPool::shared().inFlight();
}

SerialQueue::SerialQueue(std::string label) : label_(std::move(label)) {}

SerialQueue::~SerialQueue() {
    std::unique_lock lock(mutex_);
    idle_.wait(lock, [this] { return !draining_ && tasks_.empty(); });
}

void SerialQueue::async(Task task) {
    std::lock_guard lock(mutex_);
    tasks_.push_back(std::move(task));
    if (draining_) return;
    draining_ = true;
    Dispatch::async([this] { drain(); });
}

void SerialQueue::sync(const Task& task) {
    std::mutex doneMutex;
    std::condition_variable doneSignal;
    bool done = false;
    std::exception_ptr failure;
    async([&] {
        try {
            task();
        } catch (...) {
            failure = std::current_exception();  // the caller sees it, instead of waiting forever
        }
        std::lock_guard lock(doneMutex);
        done = true;
        doneSignal.notify_one();
    });
    std::unique_lock lock(doneMutex);
    doneSignal.wait(lock, [&] { return done; });
    if (failure) std::rethrow_exception(failure);
}

void SerialQueue::drain() {
    std::unique_lock lock(mutex_);
    while (!tasks_.empty()) {
        Task task = std::move(tasks_.front());
        tasks_.pop_front();
        lock.unlock();
        try {
            task();
        } catch (...) {
            Dispatch::reportTaskFailure("串行队列 " + label_);
        }
        lock.lock();
    }
    draining_ = false;
    idle_.notify_all();
}

void ManualMainQueue::post(Task task) {
    postAfter(Seconds(0), std::move(task));
}

void ManualMainQueue::postAfter(Seconds delay, Task task) {
    std::lock_guard lock(mutex_);
    auto due =
        std::chrono::steady_clock::now() + std::chrono::duration_cast<std::chrono::steady_clock::duration>(delay);
    // Keep due order; equal times keep posting order.
    auto position = std::upper_bound(tasks_.begin(), tasks_.end(), due,
                                     [](SteadyTime t, const Timed& entry) { return t < entry.due; });
    tasks_.insert(position, Timed{due, std::move(task)});
    posted_.notify_all();
}

size_t ManualMainQueue::runPending() {
    size_t count = 0;
    for (;;) {
        Task task;
        {
            std::lock_guard lock(mutex_);
            if (tasks_.empty() || tasks_.front().due > std::chrono::steady_clock::now()) return count;
            task = std::move(tasks_.front().task);
            tasks_.pop_front();
        }
        task();
        ++count;
    }
}

bool ManualMainQueue::runUntil(const std::function<bool()>& predicate, Seconds timeout) {
    auto deadline =
        std::chrono::steady_clock::now() + std::chrono::duration_cast<std::chrono::steady_clock::duration>(timeout);
    for (;;) {
        runPending();
        if (predicate()) return true;
        std::unique_lock lock(mutex_);
        auto now = std::chrono::steady_clock::now();
        if (now >= deadline) return predicate();
        auto wakeAt = deadline;
        if (!tasks_.empty()) wakeAt = std::min(wakeAt, tasks_.front().due);
        posted_.wait_until(lock, std::min(wakeAt, now + std::chrono::milliseconds(20)));
    }
}

}  // namespace orvan
