#include "mirror/ScrcpyChild.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <thread>

namespace orvan {
namespace {

// How often the watcher looks for the child's end when the pipe stays quiet (a grandchild
// such as an adb server may hold the pipe open long after scrcpy has gone).
constexpr int kWatchIntervalMs = 50;

}  // namespace

std::shared_ptr<ScrcpyChild> ScrcpyChild::launch(const ProcessSpec& spec) {
    auto child = ChildProcess::launch(spec);
    // The pipe gets a descriptor of its own so that it can outlive the child object.
    int fd = fcntl(child->outputFd(), F_DUPFD_CLOEXEC, 0);
    if (fd < 0) {
        int error = errno;
        child->terminate();
        throw LaunchError(LaunchError::Reason::other, error, spec.executable);
    }
    child->closeOutput();
    auto pipe = std::make_shared<ScrcpyOutputPipe>(fd, std::make_shared<BoundedProcessOutput>());
    std::shared_ptr<ScrcpyChild> self(new ScrcpyChild(std::move(child), std::move(pipe)));
    std::thread([self] { self->watch(); }).detach();
    return self;
}

ScrcpyChild::ScrcpyChild(std::unique_ptr<ChildProcess> child, std::shared_ptr<ScrcpyOutputPipe> pipe)
    : pid_(child->pid()), pipe_(std::move(pipe)), child_(std::move(child)) {}

// The watcher holds the object until the child has ended, so this runs after the end.
ScrcpyChild::~ScrcpyChild() = default;

bool ScrcpyChild::isRunning() {
    std::lock_guard lock(mutex_);
    return child_->isRunning();
}

std::optional<ProcessExit> ScrcpyChild::exit() const {
    std::lock_guard lock(mutex_);
    return child_->exit();
}

void ScrcpyChild::setTerminationHandler(TerminationHandler handler) {
    std::lock_guard lock(mutex_);
    handler_ = std::move(handler);
}

void ScrcpyChild::removeTerminationHandler() {
    setTerminationHandler(nullptr);
}

void ScrcpyChild::terminate() {
    std::lock_guard lock(mutex_);
    if (child_->isRunning()) child_->terminate();
}

ProcessExit ScrcpyChild::waitForExit(Seconds killAfter) {
    auto killAt =
        std::chrono::steady_clock::now() + std::chrono::duration_cast<std::chrono::steady_clock::duration>(killAfter);
    bool killed = false;
    std::unique_lock activityLock(activityMutex_);
    while (!ended_) {
        if (!killed && std::chrono::steady_clock::now() >= killAt) {
            activityLock.unlock();
            {
                std::lock_guard lock(mutex_);
                if (child_->isRunning()) child_->sendSignal(SIGKILL);
            }
            killed = true;
            activityLock.lock();
            continue;
        }
        activitySignal_.wait_for(activityLock, std::chrono::milliseconds(kWatchIntervalMs));
    }
    activityLock.unlock();
    return *exit();
}

bool ScrcpyChild::hasEnded() const {
    std::lock_guard lock(activityMutex_);
    return ended_;
}

uint64_t ScrcpyChild::activityCount() const {
    std::lock_guard lock(activityMutex_);
    return activity_;
}

void ScrcpyChild::waitForActivity(uint64_t seen, Seconds timeout) const {
    std::unique_lock lock(activityMutex_);
    activitySignal_.wait_for(lock, timeout, [&] { return activity_ != seen; });
}

void ScrcpyChild::noteActivity() {
    {
        std::lock_guard lock(activityMutex_);
        ++activity_;
    }
    activitySignal_.notify_all();
}

void ScrcpyChild::watch() {
    bool reading = true;
    while (isRunning()) {
        reading = reading && pipe_->hasReader();
        if (!reading) {
            std::this_thread::sleep_for(std::chrono::milliseconds(kWatchIntervalMs));
            continue;
        }
        pollfd entry{pipe_->fd(), POLLIN, 0};
        int ready = ::poll(&entry, 1, kWatchIntervalMs);
        if (ready > 0) {
            reading = pipe_->readAvailable();
            noteActivity();
        } else if (ready < 0 && errno != EINTR) {
            reading = false;
        }
    }
    pipe_->finishReading();
    TerminationHandler handler;
    ProcessExit end;
    {
        std::lock_guard lock(mutex_);
        handler = std::move(handler_);
        handler_ = nullptr;
        end = *child_->exit();
    }
    {
        std::lock_guard lock(activityMutex_);
        ended_ = true;
        ++activity_;
    }
    activitySignal_.notify_all();
    if (!handler) return;
    try {
        handler(end);
    } catch (...) {
        // The handler reports through the log itself; nothing here may end the program.
    }
}

}  // namespace orvan
