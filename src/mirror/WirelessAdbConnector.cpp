#include "mirror/WirelessAdbConnector.h"

#include <algorithm>
#include <exception>
#include <optional>

#include "adb/ConnectedAdbDevice.h"
#include "foundation/MirrorError.h"
#include "mirror/WirelessAdbConnectText.h"

namespace orvan {

// One run of the connect ladder, with the facts it gathers on the way.
class WirelessAdbConnector::Attempt {
public:
    Attempt(const WirelessAdbConnector& connector, const std::string& ip, int port, double timeout, bool silent,
            const FailureHandler& onFailure, AdbServerScope scope, bool preferImmediateSharedFallback)
        : c_(connector),
          ip_(ip),
          port_(port),
          target_(ip + ":" + std::to_string(port)),
          timeout_(timeout),
          silent_(silent),
          onFailure_(onFailure),
          scope_(scope),
          preferImmediateSharedFallback_(preferImmediateSharedFallback) {}

    bool run() {
        try {
            c_.tools_.checkAdb();
        } catch (const std::exception& error) {
            return fail(error.what(), true);
        }
        precheckLocalNetwork();
        if (auto reused = connectOrReuseExistingTransport()) return *reused;
        if (waitUntilAnswering(isAdbConnectSuccess(result_) ? 1.2 : 0.25)) return succeed();
        return classifyFirstConnect();
    }

private:
    // Step: the local-network pre-check. It only informs; the connect is tried whatever it says.
    void precheckLocalNetwork() {
        if (c_.localNetwork_.isLocalNetworkPermissionConfirmed()) {
            log("系统已确认本地网络可用，直接开始 adb connect: " + target_);
            return;
        }
        auto outcome = probePort(kPrecheckProbeTimeout);
        if (outcome.kind == LocalNetworkProbeOutcome::Kind::denied)
            log("本地网络权限探测报告拒绝，宽松连接模式仍继续实际 adb connect: " + target_);
        else if (outcome.kind == LocalNetworkProbeOutcome::Kind::unavailable)
            log("眼镜 ADB 端口预检暂未连通，继续尝试 adb connect: " + outcome.reason);
    }

    // Probes the glasses' port and notes what it tells about the network for the failure exit.
    LocalNetworkProbeOutcome probePort(double timeout) {
        auto outcome = c_.localNetwork_.probeLocalNetworkAccess(ip_, port_, timeout);
        if (outcome.kind == LocalNetworkProbeOutcome::Kind::reachable) portReachable_ = true;
        if (outcome.kind == LocalNetworkProbeOutcome::Kind::denied) denialSeen_ = true;
        return outcome;
    }

    // The first connect comes before any query of the target's state: for a target the server
    // does not know yet (the usual case) the connect's answer is what comes next anyway, and for
    // a transport it already has, adb answers "already connected" and leaves it as it is. Only
    // then is the state asked: such a transport listed as "device" is used when it answers; when
    // it does not, only this target is reset and connected again. Leaves the connect's outcome in
    // result_.
    std::optional<bool> connectOrReuseExistingTransport() {
        result_ = connect(timeout_);
        if (!saysAlreadyConnected(result_.output) || state() != AdbTransportState::device) return std::nullopt;
        if (c_.probe_.echoesReadyMarker(target_, 1.2, scope_)) return succeed();
        log("无线 ADB transport 状态为 device 但已无响应，正在定向重连: " + target_);
        disconnect();
        c_.clock_.sleepFor(Seconds(0.1));
        result_ = connect(timeout_);
        return std::nullopt;
    }

    bool classifyFirstConnect() {
        state_ = state();
        bool accepted = result_.status == 0;
        if (preferImmediateSharedFallback_ && scope_ == AdbServerScope::privateMirroring && !state_ &&
            (accepted || isSharedAdbServerRecoveryCandidate(result_.output))) {
            log("投屏专用 " + std::to_string(c_.runner_.privatePort()) +
                " 未及时形成有效 transport，立即回退共享 5037: " + target_);
            if (onFailure_) onFailure_({.kind = WirelessConnectFailure::Kind::other, .text = result_.output});
            return false;
        }
        if (state_ == AdbTransportState::offline) return handleOffline();
        if (saysAlreadyConnected(result_.output) && state_ != AdbTransportState::unauthorized) {
            log("无线 ADB 已登记但尚未响应，仅定向重置当前设备连接: " + target_);
            disconnect();
            c_.clock_.sleepFor(Seconds(0.1));
            result_ = connect(timeout_);
            if (waitUntilAnswering(settleTime())) return succeed();
            if (!result_.output.empty()) log("无线 ADB 定向重连失败: " + result_.output);
            accepted = result_.status == 0;
        }
        if (isAuthenticationFailure()) return finalClassification();
        if (isTransientWirelessConnectFailure(result_.output) || accepted) {
            if (accepted) log("adb connect 已受理但 transport 尚未就绪，进入有限重试: " + target_);
            return retry();
        }
        return finalClassification();
    }

    // The automatic retries while the glasses' network settles; the fourth is the slow fallback.
    bool retry() {
        for (size_t index = 0; index < kRetryDelays.size(); ++index) {
            double delay = kRetryDelays[index];
            bool slowFallback = index + 1 == kRetryDelays.size();
            log("眼镜网络可能正在切换，" + retryDelayDescription(delay) + " 秒后进行第 " + std::to_string(index + 1) +
                " 次自动重试" + (slowFallback ? "（慢速兜底）" : "") + ": " + target_);
            c_.clock_.sleepFor(Seconds(delay));
            probeBeforeRetry();
            if (state() == AdbTransportState::offline) return handleOffline();

            result_ = connect(slowFallback ? std::max(8.0, timeout_) : timeout_);
            if (waitUntilAnswering(settleTime())) {
                log("无线 ADB 自动重试成功: " + target_);
                return succeed();
            }
            state_ = state();
            if (state_ == AdbTransportState::offline) return handleOffline();
            if (isAuthenticationFailure()) return finalClassification();
            bool worthAnotherTry = isTransientWirelessConnectFailure(result_.output) ||
                                   saysAlreadyConnected(result_.output) || (!state_ && result_.status == 0);
            if (!worthAnotherTry) return finalClassification();
        }
        return finalClassification();
    }

    void probeBeforeRetry() {
        auto outcome = probePort(kRetryProbeTimeout);
        if (outcome.kind == LocalNetworkProbeOutcome::Kind::unavailable) {
            log("自动重试前眼镜端口仍未连通: " + outcome.reason);
        } else if (outcome.kind == LocalNetworkProbeOutcome::Kind::denied) {
            if (c_.localNetwork_.isLocalNetworkPermissionConfirmed())
                log("本地网络权限已确认，继续本次无线 ADB 自动重试: " + target_);
            else
                log("自动重试时权限探测仍报告拒绝，继续以实际 ADB 结果为准: " + target_);
        }
    }

    bool handleOffline() {
        TargetReadiness::OfflineOutcome outcome;
        try {
            outcome = c_.readiness_.waitForOfflineAuthorizationThenReconnectOnce(target_, timeout_, logging(), scope_);
        } catch (const std::exception& error) {
            return fail(error.what(), true);
        }
        if (outcome.connected) return succeed();
        if (onFailure_) onFailure_({.kind = WirelessConnectFailure::Kind::other, .text = outcome.failure});
        return false;
    }

    bool finalClassification() {
        if (isAuthenticationFailure() &&
            c_.readiness_.waitForWirelessAdbAuthorization(target_, kAuthorizationWait, logging(), scope_))
            return succeed();
        std::string message = failureMessage();
        if (scope_ == AdbServerScope::privateMirroring && isSharedAdbServerRecoveryCandidate(message) &&
            glassesReachable()) {
            log("主应用可访问眼镜但专用 ADB 异常，仅重启 " + std::to_string(c_.runner_.privatePort()) +
                " 后重试一次: " + target_);
            if (c_.privateServer_.restartPrivateWirelessAdbServer()) {
                result_ = connect(std::max(4.0, timeout_));
                if (waitUntilAnswering(2.0)) {
                    log("投屏专用 " + std::to_string(c_.runner_.privatePort()) + " 自动恢复成功: " + target_);
                    return succeed();
                }
                state_ = state();
                message = failureMessage();
            }
        }
        if (!message.empty()) log("无线 ADB 多次连接失败: " + message);
        return fail(message, false);
    }

    bool glassesReachable() {
        return portReachable_ || c_.localNetwork_.probeLocalNetworkAccess(ip_, port_, kRetryProbeTimeout).kind ==
                                     LocalNetworkProbeOutcome::Kind::reachable;
    }

    std::string failureMessage() const {
        if (state_ == AdbTransportState::offline) return "offline";
        if (!result_.output.empty()) return result_.output;
        return "ADB 设备未进入 device 状态";
    }

    bool isAuthenticationFailure() const {
        return isDefinitiveWirelessAuthenticationFailure(result_.output) || state_ == AdbTransportState::unauthorized;
    }

    // The failure exit: the message, with the kind that names the caller's next step.
    bool fail(const std::string& message, bool fromThrownError) {
        using Kind = WirelessConnectFailure::Kind;
        if (fromThrownError) log("无线 ADB 重连失败: " + message);
        if (!onFailure_) return false;
        bool looksLikeNetwork = isSharedAdbServerRecoveryCandidate(message);
        Kind kind = Kind::other;
        if (denialSeen_ && !c_.localNetwork_.isLocalNetworkPermissionConfirmed() && looksLikeNetwork)
            kind = Kind::localNetworkDenied;
        else if (scope_ == AdbServerScope::sharedDevelopment && looksLikeNetwork && portReachable_)
            kind = Kind::sharedServerNeedsRecovery;
        onFailure_({.kind = kind, .text = message});
        return false;
    }

    bool succeed() {
        c_.connectedTarget_.set(target_);
        return true;
    }

    // The connect command; a command that hangs or cannot start counts as status -1 with the
    // error's text as its output.
    CommandResult connect(double timeout) {
        try {
            return c_.runner_.runAdb({"connect", target_},
                                     {.timeout = Seconds(timeout), .check = false, .log = !silent_, .scope = scope_});
        } catch (const std::exception& error) {
            log(std::string("无线 ADB connect 命令异常: ") + error.what());
            return CommandResult{{c_.runner_.binaryFor(scope_).string(), "connect", target_}, -1, error.what()};
        }
    }

    void disconnect() {
        try {
            c_.runner_.runAdb(
                {"disconnect", target_},
                {.timeout = Seconds(std::min(4.0, timeout_)), .check = false, .log = !silent_, .scope = scope_});
        } catch (const std::exception&) {
            // Resetting is best effort: the connect that follows tells what state the target is in.
        }
    }

    std::optional<AdbTargetState> state() const { return c_.probe_.adbTargetState(target_, scope_); }
    bool waitUntilAnswering(double seconds) const {
        return c_.readiness_.waitForAdbTargetResponsive(target_, seconds, scope_);
    }
    double settleTime() const { return std::min(2.0, std::max(1.0, timeout_ / 2)); }
    void log(const std::string& message) const {
        if (!silent_) (*c_.runner_.log())(message);
    }

    const WirelessAdbConnector& c_;
    std::string ip_;
    int port_;
    std::string target_;
    double timeout_;
    bool silent_;
    Logging logging() const { return silent_ ? Logging::silent : Logging::logged; }
    const FailureHandler& onFailure_;
    AdbServerScope scope_;
    bool preferImmediateSharedFallback_;

    bool portReachable_ = false;
    bool denialSeen_ = false;
    CommandResult result_;
    std::optional<AdbTargetState> state_;
};

WirelessAdbConnector::WirelessAdbConnector(const AdbRunner& runner, const ToolLocation& tools, Clock& clock,
                                           const AdbTargetProbe& probe, const TargetReadiness& readiness,
                                           LocalNetworkProbe& localNetwork, PrivateAdbServer& privateServer,
                                           ConnectedTarget& connectedTarget)
    : runner_(runner),
      tools_(tools),
      clock_(clock),
      probe_(probe),
      readiness_(readiness),
      localNetwork_(localNetwork),
      privateServer_(privateServer),
      connectedTarget_(connectedTarget) {}

bool WirelessAdbConnector::tryConnectWirelessAdb(const std::string& ip, int port,
                                                 const WirelessConnectCall& call) const {
    return Attempt(*this, ip, port, call.timeout, call.logging == Logging::silent, call.onFailure, call.scope,
                   call.preferImmediateSharedFallback)
        .run();
}

std::string WirelessAdbConnector::connectWifiAdb(const std::string& ip) const {
    const auto scope = AdbServerScope::sharedDevelopment;
    std::string target = ip + ":" + std::to_string(kWirelessAdbPort);
    std::exception_ptr failure;
    try {
        auto result = runner_.runAdb(
            {"connect", target}, {.timeout = std::chrono::seconds(20), .check = false, .log = true, .scope = scope});
        if ((isAdbConnectSuccess(result) || probe_.adbTargetState(target, scope) == AdbTransportState::device) &&
            readiness_.waitForAdbTargetResponsive(target, 3.0, scope)) {
            connectedTarget_.set(target);
            return target;
        }
        failure = std::make_exception_ptr(MirrorError::message(formatAdbConnectError(ip, result.output)));
    } catch (...) {
        failure = std::current_exception();
    }
    // A slow connect may still have formed the transport.
    if (probe_.isAdbTargetResponsive(target, 4.0, scope)) {
        (*runner_.log())("adb connect 超时，但目标已在线: " + target);
        connectedTarget_.set(target);
        return target;
    }
    std::rethrow_exception(failure);
}

}  // namespace orvan
