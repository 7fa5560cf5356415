#include "adb/PrivateAdbServer.h"

#include <array>
#include <exception>
#include <string_view>

#include "foundation/MirrorError.h"
#include "foundation/Text.h"

namespace orvan {

bool isSharedAdbServerRecoveryCandidate(const std::string& failureText) {
    return text::containsAnyPhrase(failureText, text::kHostUnreachablePhrases) ||
           text::containsAnyPhrase(failureText, {"命令超时"});
}

// The texts below name the port the server really uses; in the app that is 15037.

PrivateAdbServer::PrivateAdbServer(const AdbRunner& runner, const ToolLocation& tools, Clock& clock)
    : runner_(runner), tools_(tools), clock_(clock) {}

CommandResult PrivateAdbServer::run(const char* command, double timeout) const {
    return runner_.runAdb({command},
                          {.timeout = Seconds(timeout), .check = false, .scope = AdbServerScope::privateMirroring});
}

bool PrivateAdbServer::beginCommand(std::unique_lock<std::mutex>& lock, uint64_t& generation, bool evenWhenStopped) {
    // Only background threads get here: the wait is for another command, never under the lock.
    idle_.wait(lock, [this] { return !commandInFlight_; });
    if (stopped_ && !evenWhenStopped) return false;
    commandInFlight_ = true;
    generation = generation_;
    return true;
}

void PrivateAdbServer::endCommand(std::unique_lock<std::mutex>& lock) {
    if (!lock.owns_lock()) lock.lock();
    commandInFlight_ = false;
    idle_.notify_all();
}

bool PrivateAdbServer::preparePrivateWirelessAdbServer(bool silent) {
    std::unique_lock lock(lock_);
    uint64_t generation = 0;
    if (ready_) return true;
    if (!beginCommand(lock, generation)) return false;
    if (ready_) {  // the command that ran meanwhile started it
        endCommand(lock);
        return true;
    }
    lock.unlock();
    bool started = false;
    std::string failure;
    bool exception = false;
    try {
        tools_.checkAdb();
        auto result = run("start-server", kStartTimeout);
        started = result.status == 0;
        failure = result.output;
    } catch (const std::exception& error) {
        exception = true;
        failure = error.what();
    }
    lock.lock();
    // A reset or stop during the command leaves readiness unknown: the next preparation asks again.
    if (generation == generation_) ready_ = started;
    endCommand(lock);
    lock.unlock();
    if (silent) return started;
    if (exception)
        log("投屏专用 ADB Server 启动异常，将仅在本次扫码中回退共享 5037: " + failure);
    else if (started)
        log("投屏专用 ADB Server 已就绪: 127.0.0.1:" + portText());
    else
        log("投屏专用 ADB Server 启动失败，将仅在本次扫码中回退共享 5037: " + failure);
    return started;
}

AdbServerScope PrivateAdbServer::preferredScanAdbServerScope() {
    bool suppressed;
    {
        std::lock_guard guard(lock_);
        if (stopped_) throw MirrorError::cancelled();
        suppressed = suppressedUntil_ > clock_.now();
    }
    if (suppressed) {
        log("投屏专用 " + portText() + " 处于短时熔断，本次扫码直接使用共享 5037；不会重启共享服务。");
        return AdbServerScope::sharedDevelopment;
    }
    if (preparePrivateWirelessAdbServer(false)) return AdbServerScope::privateMirroring;
    if (isStopped()) throw MirrorError::cancelled();
    log("本次扫码改用共享 5037；不会自动重启或清理 Android Studio 的 ADB Server。");
    return AdbServerScope::sharedDevelopment;
}

void PrivateAdbServer::suppressPrivateWirelessAdbTemporarily(const std::string& reason) {
    {
        std::lock_guard guard(lock_);
        if (stopped_) return;  // the app's own stop is no fault of the server
        suppressedUntil_ = deadlineAfter(clock_, Seconds(kSuppressionPeriod));
    }
    log("投屏专用 " + portText() + " 已短时熔断 5 分钟: " + reason);
}

void PrivateAdbServer::resetPrivateWirelessAdbCircuitBreaker(const std::string& reason) {
    {
        std::lock_guard guard(lock_);
        ++generation_;
        suppressedUntil_ = SteadyTime::min();
        ready_ = false;
    }
    log("已重置投屏专用 " + portText() + " 健康状态: " + reason);
}

bool PrivateAdbServer::restartPrivateWirelessAdbServer() {
    std::unique_lock lock(lock_);
    uint64_t generation = 0;
    if (!beginCommand(lock, generation)) return false;
    ready_ = false;
    lock.unlock();
    bool started = false;
    try {
        run("kill-server", kRestartKillTimeout);
        started = run("start-server", kStartTimeout).status == 0;
    } catch (const std::exception& error) {
        endCommand(lock);
        lock.unlock();
        log("重启投屏专用 " + portText() + " 失败: " + error.what());
        return false;
    }
    lock.lock();
    if (generation == generation_) ready_ = started;
    endCommand(lock);
    return started;
}

void PrivateAdbServer::stopPrivateWirelessAdbServer() {
    std::unique_lock lock(lock_);
    // Latch first, so that no preparation waiting behind a command in flight starts it again.
    stopped_ = true;
    ++generation_;
    ready_ = false;
    suppressedUntil_ = SteadyTime::min();
    uint64_t generation = 0;
    beginCommand(lock, generation, true);
    lock.unlock();
    try {
        auto result = run("kill-server", kExitKillTimeout);
        if (result.status == 0)
            log("应用退出，已停止投屏专用 ADB Server: 127.0.0.1:" + portText());
        else
            log("应用退出时未能正常停止投屏专用 ADB Server: " + result.output);
    } catch (const std::exception& error) {
        log(std::string("应用退出时停止投屏专用 ADB Server 异常: ") + error.what());
    }
    endCommand(lock);
}

bool PrivateAdbServer::isReady() const {
    std::lock_guard guard(lock_);
    return ready_;
}

bool PrivateAdbServer::isStopped() const {
    std::lock_guard guard(lock_);
    return stopped_;
}

bool PrivateAdbServer::isSuppressed() const {
    std::lock_guard guard(lock_);
    return suppressedUntil_ > clock_.now();
}

}  // namespace orvan
