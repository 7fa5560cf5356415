#include "mirror/ScrcpyLauncher.h"

#include <signal.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <thread>
#include <utility>

#include "foundation/MirrorError.h"
#include "foundation/Text.h"
#include "mirror/ScrcpyCommandLine.h"
#include "mirror/ScrcpyFailureCause.h"
#include "mirror/ScrcpyFailureSummary.h"

namespace orvan {
namespace {

std::optional<std::string> inheritedPath() {
    if (const char* path = std::getenv("PATH")) return std::string(path);
    return std::nullopt;
}

bool endedNormally(const ProcessExit& end) {
    return end.reason == ProcessExit::Reason::exited && end.status == 0;
}

std::string exitReason(const ProcessExit& end) {
    if (end.reason == ProcessExit::Reason::signaled) return "被信号 " + std::to_string(end.status) + " 终止";
    return "退出码 " + std::to_string(end.status);
}

ScrcpyLauncherSettings withDefaults(ScrcpyLauncherSettings settings) {
    if (!settings.log) settings.log = std::make_shared<LogSink>();
    if (!settings.clock) settings.clock = &SystemClock::shared();
    if (!settings.processList) settings.processList = systemProcessListRunner();
    if (!settings.versions) settings.versions = std::make_shared<ScrcpyVersionReader>();
    if (!settings.mainQueue) settings.mainQueue = Dispatch::mainOrBackground();
    return settings;
}

Seconds pollInterval() {
    return Seconds(ScrcpyLauncher::kPollInterval);
}

// The error of a start whose client exited with a failure. The causes the user can act on get
// their own message and kind; everything else says what the client said.
MirrorError scrcpyStartFailure(const ScrcpyFailure& failure, const std::string& target, int status,
                               const std::string& summary) {
    using Kind = MirrorError::Kind;
    switch (failure.cause) {
        case ScrcpyFailureCause::versionMismatch: {
            std::string versions = failure.serverVersion.empty() || failure.clientVersion.empty()
                                       ? ""
                                       : "（scrcpy-server " + failure.serverVersion + "，scrcpy " +
                                             failure.clientVersion + "）";
            return MirrorError::of(Kind::scrcpyVersionMismatch,
                                   "scrcpy 启动失败：scrcpy-server 与 scrcpy 的版本不一致" + versions +
                                       "。请使用与 scrcpy 同一发行包中的 scrcpy-server，不要单独设置 "
                                       "SCRCPY_SERVER_PATH。");
        }
        case ScrcpyFailureCause::deviceUnauthorized:
            return MirrorError::of(Kind::deviceUnauthorized, "scrcpy 启动失败：眼镜尚未允许这台电脑进行 ADB 调试（" +
                                                                 target + "）。请在眼镜上确认授权后重试。");
        case ScrcpyFailureCause::deviceOffline:
            return MirrorError::of(Kind::deviceOffline, "scrcpy 启动失败：眼镜的 ADB 连接处于 offline 状态（" +
                                                            target + "）。请重新连接眼镜后重试。");
        case ScrcpyFailureCause::unsupportedOption:
            return MirrorError::of(Kind::toolTooOld, "scrcpy 启动失败：当前 scrcpy 不支持小助手使用的启动参数。" +
                                                         (summary.empty() ? "" : " " + summary + " ") +
                                                         kScrcpyInstallHint);
        case ScrcpyFailureCause::transportLost:
        case ScrcpyFailureCause::unknown:
            break;
    }
    const Kind kind = failure.cause == ScrcpyFailureCause::transportLost ? Kind::scrcpyTransportLost : Kind::message;
    return MirrorError::of(kind, "scrcpy 启动失败，退出码 " + std::to_string(status) + "。" +
                                     (summary.empty() ? "" : " " + summary) +
                                     "小助手已保留完整尾部输出，可在“查看日志”中检查。");
}

}  // namespace

bool hasVisibleScrcpyWindow(const WindowInfo& window, pid_t pid, bool alwaysOnTop) {
    const int topLayer = alwaysOnTop ? 1 : 0;
    return pid > 0 && window.pid == pid && window.layer >= 0 && window.layer <= topLayer &&
           window.isLargerThanHelperWindow();
}

std::shared_ptr<ScrcpyLauncher> ScrcpyLauncher::create(ScrcpyLauncherSettings settings) {
    return std::shared_ptr<ScrcpyLauncher>(new ScrcpyLauncher(std::move(settings)));
}

ScrcpyLauncher::ScrcpyLauncher(ScrcpyLauncherSettings settings)
    : settings_(withDefaults(std::move(settings))),
      leftovers_(registry_, settings_.processList, settings_.log, *settings_.clock) {}

// ---- startScrcpy ------------------------------------------------------------------------------

// Holds a start's names (its glasses identity and its target) until the start ends.
class ScrcpyLauncher::Reservation {
public:
    Reservation(ScrcpyLauncher& launcher, std::vector<std::string> names, uint64_t generation)
        : launcher_(&launcher), names_(std::move(names)), generation_(generation) {}
    Reservation(Reservation&& other) noexcept
        : launcher_(std::exchange(other.launcher_, nullptr)),
          names_(std::move(other.names_)),
          generation_(other.generation_) {}
    Reservation(const Reservation&) = delete;
    Reservation& operator=(const Reservation&) = delete;
    ~Reservation() {
        if (!launcher_) return;
        {
            std::lock_guard lock(launcher_->reservationMutex_);
            for (const auto& name : names_) launcher_->reservedNames_.erase(name);
        }
        launcher_->reservationReleased_.notify_all();
    }
    uint64_t generation() const { return generation_; }

private:
    ScrcpyLauncher* launcher_;
    std::vector<std::string> names_;
    uint64_t generation_;
};

void ScrcpyLauncher::startScrcpy(const std::string& target, bool glassShell,
                                 const std::optional<std::string>& mirrorIdentity, const ShouldContinue& shouldContinue,
                                 AdbServerScope serverScope) {
    if (shouldContinue && !shouldContinue()) throw MirrorError::scanSessionReplaced();
    const MirrorKey key = MirrorKey::of(target, glassShell);
    const std::string identity = mirrorIdentity.value_or(defaultMirrorIdentity(target));

    Reservation reservation = reserve(target, identity, shouldContinue);
    const uint64_t generation = reservation.generation();
    // A cancel of every start (the app quits) ends this one like a replaced scan session.
    const ShouldContinue proceed = [this, generation, &shouldContinue] {
        return !isCancelled(generation) && (!shouldContinue || shouldContinue());
    };
    if (reuseRunningWindow(target, identity)) return;
    if (adoptLeftover(key, identity)) return;
    auto child = launchChild(key, identity, serverScope, proceed);
    try {
        awaitReadiness(child, key, proceed);
    } catch (const MirrorError&) {
        throw;  // its path has cleaned up already
    } catch (...) {
        // Something below us failed (a callback, the window system): the window must not stay
        // registered for a start that did not return normally.
        endStart(child, key);
        throw;
    }
}

ScrcpyLauncher::Reservation ScrcpyLauncher::reserve(const std::string& target, const std::string& identity,
                                                    const ShouldContinue& shouldContinue) {
    // The same glasses may come by identity or by target (a plain and a glasses-shell start of
    // one target share it): either name in use means "wait, then reuse what the other opened".
    std::vector<std::string> names{"identity " + identity, "target " + target};
    std::unique_lock lock(reservationMutex_);
    if (closed_) throw MirrorError::cancelled();  // the app quits: nothing new starts
    const uint64_t generation = cancelGeneration_;
    auto inUse = [&] {
        return std::any_of(names.begin(), names.end(), [&](const auto& name) { return reservedNames_.contains(name); });
    };
    while (inUse()) {
        reservationReleased_.wait_for(lock, pollInterval());
        if (closed_) throw MirrorError::cancelled();
        if (cancelGeneration_ != generation) throw MirrorError::scanSessionReplaced();
        if (shouldContinue) {
            lock.unlock();  // the caller's check is no short read
            bool goOn = shouldContinue();
            lock.lock();
            if (!goOn) throw MirrorError::scanSessionReplaced();
        }
    }
    for (const auto& name : names) reservedNames_.insert(name);
    return Reservation(*this, std::move(names), generation);
}

bool ScrcpyLauncher::isCancelled(uint64_t generation) {
    std::lock_guard lock(reservationMutex_);
    return cancelGeneration_ != generation;
}

void ScrcpyLauncher::cancelStartsInProgress() {
    {
        std::lock_guard lock(reservationMutex_);
        ++cancelGeneration_;
    }
    reservationReleased_.notify_all();
}

void ScrcpyLauncher::closeForTermination() {
    {
        std::lock_guard lock(reservationMutex_);
        closed_ = true;
        ++cancelGeneration_;
    }
    reservationReleased_.notify_all();
}

bool ScrcpyLauncher::isClosed() {
    std::lock_guard lock(reservationMutex_);
    return closed_;
}

bool ScrcpyLauncher::reuseRunningWindow(const std::string& target, const std::string& identity) {
    auto handle = runningScrcpyHandleForMirrorIdentity(identity);
    if (!handle) handle = runningScrcpyHandle({target, MirrorWindowKind::standard});
    if (!handle) handle = runningScrcpyHandle({target, MirrorWindowKind::glassShell});
    if (!handle) return false;
    log("该眼镜的 scrcpy 已在运行，复用现有窗口: " + target);
    bringScrcpyToFront(*handle);
    return true;
}

bool ScrcpyLauncher::adoptLeftover(const MirrorKey& key, const std::string& identity) {
    auto adopted = leftovers_.adoptOrEnd(key, identity);
    if (!adopted) return false;
    bringScrcpyToFront(RunningScrcpyHandle{nullptr, *adopted});
    return true;
}

std::shared_ptr<ScrcpyChild> ScrcpyLauncher::launchChild(const MirrorKey& key, const std::string& identity,
                                                         AdbServerScope serverScope,
                                                         const ShouldContinue& shouldContinue) {
    // Only the options this client knows: a 1.x client refuses "--no-audio" and forwards no
    // sound anyway. A client too old for the app fails here, before anything is started.
    const ScrcpyVersion version = settings_.versions->requireSupported(settings_.tools.scrcpy);
    ScrcpyLaunchRequest request{key.target, key.isGlassShell(), isAudioForwardingEnabled(), serverScope, version};
    std::optional<std::filesystem::path> adb;
    if (settings_.adbForScope) adb = settings_.adbForScope(serverScope);
    ProcessSpec spec = scrcpyProcessSpec(settings_.tools, settings_.privatePort, request, inheritedPath(), adb);
    log("$ " + spec.executable + " " + text::joined(spec.arguments, " "));

    // Cancelled while it waited for leftovers to close: nothing is started.
    if (!shouldContinue()) throw MirrorError::scanSessionReplaced();
    auto child = ScrcpyChild::launch(spec);  // a launch error leaves nothing registered
    registry_.addChild(key, child, identity);
    bringScrcpyToFront(RunningScrcpyHandle{child, 0});
    installTerminationHandler(child, key);
    return child;
}

void ScrcpyLauncher::awaitReadiness(const std::shared_ptr<ScrcpyChild>& child, const MirrorKey& key,
                                    const ShouldContinue& shouldContinue) {
    const std::string& target = key.target;
    const bool glassShell = key.isGlassShell();
    Clock& clock = *settings_.clock;
    const auto deadline = deadlineAfter(clock, Seconds(kReadinessTimeout));
    std::optional<std::string> signal;
    bool cancelled = false;
    std::optional<std::chrono::steady_clock::time_point> lastWindowCheck;

    if (child->isRunning()) {
        for (;;) {
            if (clock.now() >= deadline) break;
            if (!shouldContinue()) {
                cancelled = true;
                break;
            }
            const uint64_t seen = child->activityCount();
            if ((signal = child->output().startupReadinessSignal())) break;
            // Output wakes this loop early; the window list is asked at most once per interval.
            auto now = std::chrono::steady_clock::now();
            if ((!lastWindowCheck || now - *lastWindowCheck >= pollInterval()) && child->isRunning()) {
                lastWindowCheck = now;
                if (hasVisibleWindowOf(child->pid(), glassShell)) {
                    signal = "Window";
                    break;
                }
            }
            child->waitForActivity(seen, pollInterval());
            if (!child->isRunning()) break;
        }
    }

    if (cancelled || (child->isRunning() && !shouldContinue())) cancelStart(child, key);
    if (!child->isRunning()) failAfterExit(child, key, signal);

    if (!signal) signal = scrcpyStartupReadinessSignal(*child);
    if (!signal && glassShell && hasVisibleWindowOf(child->pid(), true)) signal = "Window";
    if (!signal) {
        endStart(child, key);
        std::string summary = scrcpyFailureSummary(child->output().text());
        log("scrcpy 等待就绪信号超时: " + target + "，output=" + summary);
        throw MirrorError::scrcpyStartTimeout(summary);
    }
    log("scrcpy 启动就绪: target=" + target + ", signal=" + *signal);
    if (glassShell) {
        GlassShellCallback callback;
        {
            std::lock_guard callbackLock(callbackMutex_);
            callback = onGlassShellStarted_;
        }
        if (callback) callback(child);
    }
}

void ScrcpyLauncher::cancelStart(const std::shared_ptr<ScrcpyChild>& child, const MirrorKey& key) {
    endStart(child, key);
    log("扫码会话已切换，结束旧 session 启动的 scrcpy: target=" + key.target);
    if (isClosed()) throw MirrorError::cancelled();
    throw MirrorError::scanSessionReplaced();
}

// The cancel and time-out paths (and an unexpected failure) end the start the same way: no
// report of this end, the child closed and drained, the key released.
void ScrcpyLauncher::endStart(const std::shared_ptr<ScrcpyChild>& child, const MirrorKey& key) {
    child->removeTerminationHandler();
    child->terminate();
    child->waitForExit();
    clearScrcpyProcess(key, child);
}

void ScrcpyLauncher::failAfterExit(const std::shared_ptr<ScrcpyChild>& child, const MirrorKey& key,
                                   std::optional<std::string> signal) {
    const std::string& target = key.target;
    child->removeTerminationHandler();
    ProcessExit end = child->waitForExit();  // returns at once: it has ended; this drains
    clearScrcpyProcess(key, child);
    std::string output = child->output().text();
    if (!signal) signal = child->output().startupReadinessSignal();

    if (endedNormally(end)) {
        log("scrcpy 已正常关闭: target=" + target + ", signal=" + signal.value_or("ExitCode0"));
        throw MirrorError::scrcpyClosedAfterReady();
    }
    std::string summary = scrcpyFailureSummary(output);
    if (!summary.empty()) log("scrcpy 启动失败详情: " + summary);
    throw scrcpyStartFailure(classifyScrcpyFailure(output), target, end.status, summary);
}

// ---- termination ------------------------------------------------------------------------------

void ScrcpyLauncher::installTerminationHandler(const std::shared_ptr<ScrcpyChild>& child, const MirrorKey& key) {
    std::weak_ptr<ScrcpyLauncher> weakSelf = weak_from_this();
    std::weak_ptr<ScrcpyChild> weakChild = child;
    // Runs on the child's watcher thread once the pipe is drained; the rest happens on the main
    // queue. Holds the launcher weakly: a window may outlive the service.
    child->setTerminationHandler([weakSelf, weakChild, key](const ProcessExit& end) {
        auto self = weakSelf.lock();
        auto ended = weakChild.lock();
        if (!self || !ended) return;
        self->onMain(Seconds(0), [weakSelf, ended, key, end] {
            if (auto service = weakSelf.lock()) service->handleTermination(key, ended, end);
        });
    });
}

void ScrcpyLauncher::handleTermination(const MirrorKey& key, const std::shared_ptr<ScrcpyChild>& child,
                                       const ProcessExit& end) {
    if (!registry_.remove(key, child)) return;  // stopped or replaced meanwhile
    log("scrcpy 投屏进程已退出: " + key.target + "，" + exitReason(end));
    std::string output = child->output().text();
    if (!endedNormally(end) && !output.empty()) log("scrcpy 错误输出: " + scrcpyFailureSummary(output));
    TerminationCallback callback;
    {
        std::lock_guard callbackLock(callbackMutex_);
        callback = onScrcpyTerminated_;
    }
    if (callback) callback(key, child);
}

// ---- registry ---------------------------------------------------------------------------------

std::optional<RunningScrcpyHandle> ScrcpyLauncher::runningScrcpyHandle(const MirrorKey& key) {
    return registry_.running(key);
}

std::optional<RunningScrcpyHandle> ScrcpyLauncher::runningScrcpyHandleForMirrorIdentity(
    const std::string& mirrorIdentity) {
    for (const auto& key : registry_.keysWithIdentity(mirrorIdentity)) {
        if (auto handle = registry_.running(key)) return handle;
    }
    return std::nullopt;
}

bool ScrcpyLauncher::isMirroring(const std::string& target) {
    return registry_.running({target, MirrorWindowKind::standard}).has_value();
}

bool ScrcpyLauncher::isAnyMirroring(const std::string& target) {
    return isMirroring(target) || registry_.running({target, MirrorWindowKind::glassShell}).has_value();
}

bool ScrcpyLauncher::isMirroringDevice(const std::string& mirrorIdentity, const std::string& serial,
                                       const std::optional<std::string>& mappedTarget) {
    if (runningScrcpyHandleForMirrorIdentity(mirrorIdentity)) return true;
    if (isAnyMirroring(serial)) return true;
    return mappedTarget && isAnyMirroring(*mappedTarget);
}

void ScrcpyLauncher::clearScrcpyProcess(const MirrorKey& key, const std::shared_ptr<ScrcpyChild>& expectedProcess) {
    registry_.remove(key, expectedProcess);
}

std::vector<MirrorKey> ScrcpyLauncher::registeredProcessKeys() {
    return registry_.keys();
}

std::vector<MirrorKey> ScrcpyLauncher::processKeysWithMirrorIdentity(const std::string& mirrorIdentity) {
    return registry_.keysWithIdentity(mirrorIdentity);
}

void ScrcpyLauncher::stopProcessKeys(const std::vector<MirrorKey>& processKeys) {
    for (const auto& key : processKeys) {
        auto removed = registry_.remove(key);
        if (!removed) continue;
        if (auto child = removed->handle.process) {
            // Unregistered first: a termination report that races this stop finds no entry and
            // says nothing.
            child->removeTerminationHandler();
            child->terminate();
        } else {
            ::kill(removed->handle.externalPid, SIGTERM);
        }
    }
}

// ---- windows ----------------------------------------------------------------------------------

bool ScrcpyLauncher::hasVisibleWindowOf(pid_t pid, bool alwaysOnTop) {
    if (!settings_.windows) return false;
    auto windows = settings_.windows->visibleTopLevelWindows();
    return std::any_of(windows.begin(), windows.end(), [pid, alwaysOnTop](const WindowInfo& window) {
        return hasVisibleScrcpyWindow(window, pid, alwaysOnTop);
    });
}

std::optional<std::string> ScrcpyLauncher::scrcpyStartupReadinessSignal(ScrcpyChild& process) {
    if (auto signal = process.output().startupReadinessSignal()) return signal;
    if (process.isRunning() && hasVisibleWindowOf(process.pid(), false)) return std::string("Window");
    return std::nullopt;
}

void ScrcpyLauncher::bringScrcpyToFront(const RunningScrcpyHandle& handle) {
    auto windows = settings_.windows;
    if (!windows) return;
    pid_t pid = handle.pid();
    // A window we just launched needs a moment to appear before it can be raised.
    Seconds delay = handle.isExternal() ? Seconds(0) : Seconds(kBringToFrontDelay);
    onMain(delay, [windows, pid] { windows->raiseWindowsOf(pid); });
}

void ScrcpyLauncher::onMain(Seconds delay, Task task) {
    settings_.mainQueue->postAfter(delay, std::move(task));
}

void ScrcpyLauncher::setOnScrcpyTerminated(TerminationCallback callback) {
    std::lock_guard lock(callbackMutex_);
    onScrcpyTerminated_ = std::move(callback);
}

void ScrcpyLauncher::setOnGlassShellStarted(GlassShellCallback callback) {
    std::lock_guard lock(callbackMutex_);
    onGlassShellStarted_ = std::move(callback);
}

}  // namespace orvan
