#include "adb/PrivateAdbServer.h"

#include <array>
#include <exception>
#include <string_view>

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

bool PrivateAdbServer::preparePrivateWirelessAdbServer(bool silent) {
    std::lock_guard guard(lock_);
    if (ready_) return true;
    try {
        tools_.checkAdb();
        auto result = run("start-server", kStartTimeout);
        ready_ = result.status == 0;
        if (silent) return ready_;
        if (ready_)
            log("投屏专用 ADB Server 已就绪: 127.0.0.1:" + portText());
        else
            log("投屏专用 ADB Server 启动失败，将仅在本次扫码中回退共享 5037: " + result.output);
    } catch (const std::exception& error) {
        ready_ = false;
        if (!silent) log(std::string("投屏专用 ADB Server 启动异常，将仅在本次扫码中回退共享 5037: ") + error.what());
    }
    return ready_;
}

AdbServerScope PrivateAdbServer::preferredScanAdbServerScope() {
    bool suppressed;
    {
        std::lock_guard guard(lock_);
        suppressed = suppressedUntil_ > clock_.now();
    }
    if (suppressed) {
        log("投屏专用 " + portText() + " 处于短时熔断，本次扫码直接使用共享 5037；不会重启共享服务。");
        return AdbServerScope::sharedDevelopment;
    }
    if (preparePrivateWirelessAdbServer(false)) return AdbServerScope::privateMirroring;
    log("本次扫码改用共享 5037；不会自动重启或清理 Android Studio 的 ADB Server。");
    return AdbServerScope::sharedDevelopment;
}

void PrivateAdbServer::suppressPrivateWirelessAdbTemporarily(const std::string& reason) {
    {
        std::lock_guard guard(lock_);
        suppressedUntil_ = deadlineAfter(clock_, Seconds(kSuppressionPeriod));
    }
    log("投屏专用 " + portText() + " 已短时熔断 5 分钟: " + reason);
}

void PrivateAdbServer::resetPrivateWirelessAdbCircuitBreaker(const std::string& reason) {
    {
        std::lock_guard guard(lock_);
        suppressedUntil_ = SteadyTime::min();
        ready_ = false;
    }
    log("已重置投屏专用 " + portText() + " 健康状态: " + reason);
}

bool PrivateAdbServer::restartPrivateWirelessAdbServer() {
    std::lock_guard guard(lock_);
    try {
        run("kill-server", kRestartKillTimeout);
        ready_ = false;
        ready_ = run("start-server", kStartTimeout).status == 0;
    } catch (const std::exception& error) {
        ready_ = false;
        log("重启投屏专用 " + portText() + " 失败: " + error.what());
        return false;
    }
    return ready_;
}

void PrivateAdbServer::stopPrivateWirelessAdbServer() {
    std::lock_guard guard(lock_);
    try {
        auto result = run("kill-server", kExitKillTimeout);
        if (result.status == 0)
            log("应用退出，已停止投屏专用 ADB Server: 127.0.0.1:" + portText());
        else
            log("应用退出时未能正常停止投屏专用 ADB Server: " + result.output);
    } catch (const std::exception& error) {
        log(std::string("应用退出时停止投屏专用 ADB Server 异常: ") + error.what());
    }
    ready_ = false;
    suppressedUntil_ = SteadyTime::min();
}

bool PrivateAdbServer::isReady() const {
    std::lock_guard guard(lock_);
    return ready_;
}

bool PrivateAdbServer::isSuppressed() const {
    std::lock_guard guard(lock_);
    return suppressedUntil_ > clock_.now();
}

}  // namespace orvan
