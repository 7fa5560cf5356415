#pragma once

#include <sys/types.h>

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>

#include "mirror/ScrcpyOutputPipe.h"
#include "platform/Clock.h"
#include "platform/Process.h"

namespace orvan {

// One launched scrcpy window process. A watcher thread of its own feeds the output collector
// while the child runs; when the child ends it drains the pipe and then calls the termination
// handler, on that thread. Every operation is safe from any thread; the child is reaped under
// the object's lock, so a signal never reaches a recycled pid.
class ScrcpyChild : public std::enable_shared_from_this<ScrcpyChild> {
public:
    using TerminationHandler = std::function<void(const ProcessExit&)>;

    // Throws LaunchError; nothing keeps running then.
    static std::shared_ptr<ScrcpyChild> launch(const ProcessSpec& spec);
    ~ScrcpyChild();
    ScrcpyChild(const ScrcpyChild&) = delete;
    ScrcpyChild& operator=(const ScrcpyChild&) = delete;

    pid_t pid() const { return pid_; }
    const std::shared_ptr<ScrcpyOutputPipe>& outputPipe() const { return pipe_; }
    const BoundedProcessOutput& output() const { return pipe_->collector(); }

    bool isRunning();
    std::optional<ProcessExit> exit() const;

    // Called once when the child ends, unless removed first. A handler installed after the end
    // has been reported is never called.
    void setTerminationHandler(TerminationHandler handler);
    void removeTerminationHandler();

    void terminate();
    // Blocks until the child has ended and the watcher has drained the pipe, so the collector
    // holds everything the child wrote. A child that ignores SIGTERM for `killAfter` gets
    // SIGKILL: a start must never hang on a window that refuses to close.
    ProcessExit waitForExit(Seconds killAfter = Seconds(3.0));
    // Whether the watcher has seen the end and drained the pipe.
    bool hasEnded() const;

    // A counter that moves whenever output arrives or the child ends. Waiting on it lets a
    // poller react at once instead of on its next tick.
    uint64_t activityCount() const;
    // Returns when the counter differs from `seen` or `timeout` (real time) has passed.
    void waitForActivity(uint64_t seen, Seconds timeout) const;

private:
    ScrcpyChild(std::unique_ptr<ChildProcess> child, std::shared_ptr<ScrcpyOutputPipe> pipe);
    void watch();
    void noteActivity();

    pid_t pid_;
    std::shared_ptr<ScrcpyOutputPipe> pipe_;
    mutable std::mutex mutex_;  // guards child_ (not thread-safe itself) and handler_
    std::unique_ptr<ChildProcess> child_;
    TerminationHandler handler_;
    bool ended_ = false;  // under activityMutex_
    mutable std::mutex activityMutex_;
    mutable std::condition_variable activitySignal_;
    uint64_t activity_ = 0;
};

}  // namespace orvan
