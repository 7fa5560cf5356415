#include "mirror/ScrcpyChild.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <thread>

#include "platform/Dispatch.h"

namespace orvan {
namespace {

// The watcher wakes on output and, through the process layer's pidfd, on the child's end. Only
// without a pidfd does it have to look for the end this often.
constexpr int kWatchIntervalMs = 50;
constexpr int kPidfdWatchIntervalMs = 1000;

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
        // The watcher signals the end; the deadline only matters for the forced kill.
        if (killed)
            activitySignal_.wait(activityLock);
        else
            activitySignal_.wait_until(activityLock, killAt);
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
    int exitFd = -1;
    {
        std::lock_guard lock(mutex_);
        exitFd = child_->exitFd();
    }
    const int interval = exitFd >= 0 ? kPidfdWatchIntervalMs : kWatchIntervalMs;
    bool reading = true;
    while (isRunning()) {
        // A grandchild such as an adb server may hold the pipe open long after scrcpy has gone:
        // the end is seen on the pidfd, not on the pipe.
        reading = reading && pipe_->hasReader();
        pollfd entries[2];
        nfds_t count = 0;
        if (exitFd >= 0) entries[count++] = {exitFd, POLLIN, 0};
        const nfds_t pipeEntry = count;
        if (reading) entries[count++] = {pipe_->fd(), POLLIN, 0};
        if (count == 0) {
            std::this_thread::sleep_for(std::chrono::milliseconds(kWatchIntervalMs));
            continue;
        }
        int ready = ::poll(entries, count, interval);
        if (ready > 0 && reading && entries[pipeEntry].revents != 0) {
            reading = pipe_->readAvailable();
            noteActivity();
        } else if (ready < 0 && errno != EINTR) {
            reading = false;
            if (exitFd >= 0) std::this_thread::sleep_for(std::chrono::milliseconds(kWatchIntervalMs));
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
        // Nothing here may end the program, nor pass unseen.
        Dispatch::reportTaskFailure("scrcpy 监视线程 pid=" + std::to_string(pid_));
    }
}

}  // namespace orvan
