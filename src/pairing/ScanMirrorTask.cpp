#include "pairing/ScanMirrorTask.h"

#include <mutex>

#include "foundation/MirrorError.h"
#include "foundation/Text.h"
#include "pairing/CallbackLogValue.h"
#include "pairing/ScanFailureText.h"

namespace orvan {

namespace {

constexpr AdbServerScope kShared = AdbServerScope::sharedDevelopment;
constexpr AdbServerScope kPrivate = AdbServerScope::privateMirroring;

}  // namespace

ScanMirrorTask::ScanMirrorTask(ScanConnectionEngine& engine, ScanSessionCoordinator& coordinator, MainQueue& mainQueue,
                               Clock& clock, ScanStatusSink& status, ScanTaskHooks hooks)
    : engine_(engine),
      coordinator_(coordinator),
      main_(mainQueue),
      clock_(clock),
      status_(status),
      hooks_(std::move(hooks)) {}

void ScanMirrorTask::log(const std::string& line) const {
    if (hooks_.onLog) hooks_.onLog(line);
}

void ScanMirrorTask::onMain(std::function<void(const ScanTaskHooks&)> work) {
    // Nothing is shown once the owner let the task go: the page may have gone with it.
    main_.post([weak = weak_from_this(), work = std::move(work)] {
        if (auto self = weak.lock()) work(self->hooks_);
    });
}

void ScanMirrorTask::startWirelessMirrorFromCallback(const ScanMirrorRequest& request) {
    tasks_.async([self = shared_from_this(), request] { self->run(request); }, QualityOfService::userInitiated);
}

void ScanMirrorTask::checkSession(const std::string& sessionId) const {
    if (tasks_.stopRequested()) throw MirrorError::cancelled();
    if (!coordinator_.book().isActiveSession(sessionId)) throw MirrorError::scanSessionReplaced();
}

void ScanMirrorTask::run(const ScanMirrorRequest& request) {
    WirelessConnectFailure failureBox;
    try {
        checkSession(request.sessionId);
        const AdbServerScope scope = connect(request, failureBox);
        // Each way in which connect() succeeds has just read the state as "device" and had the
        // glasses answer (the reuse probe, the connect's settling, the late recovery): that read
        // is the one logged. Reading it once more would cost every pair of a classroom one more
        // adb process, and a wait, on the way to its window.
        log("adb get-state 结果: sessionId=" + (request.sessionId.empty() ? std::string("-") : request.sessionId) +
            ", target=" + request.target + ", state=device");
        checkSession(request.sessionId);
        if (request.callbackKey) {
            coordinator_.book().markConnected(*request.callbackKey);
            log("ADB 已连接 ACK 就绪: key=" + *request.callbackKey);
        }
        onMain([this](const ScanTaskHooks& hooks) {
            status_.showStatus({"已连接，投屏启动中..."});
            if (hooks.setMainStatus) hooks.setMainStatus("已连接，投屏启动中");
        });
        const std::string sessionId = request.sessionId;
        engine_.startVerifiedWirelessMirror(
            request.device,
            [this] {
                onMain([this](const ScanTaskHooks& hooks) {
                    status_.showStatus({"连接波动，正在重试投屏..."});
                    if (hooks.setMainStatus) hooks.setMainStatus("连接波动，正在重试投屏");
                });
            },
            [this, sessionId] { return !tasks_.stopRequested() && coordinator_.book().isActiveSession(sessionId); }, scope);
        succeed(request, scope);
    } catch (const MirrorError& error) {
        if (tasks_.stopRequested() || error.kind() == MirrorError::Kind::cancelled)
            return log("扫码旧会话任务已停止: sessionId=" + request.sessionId);
        fail(request, error.what(), error.isNormalScrcpyClosure(),
             failureBox.kind == WirelessConnectFailure::Kind::localNetworkDenied);
    } catch (const std::exception& error) {
        if (tasks_.stopRequested()) return log("扫码旧会话任务已停止: sessionId=" + request.sessionId);
        fail(request, error.what(), false, false);
    }
}

AdbServerScope ScanMirrorTask::connect(const ScanMirrorRequest& request, WirelessConnectFailure& failureBox) {
    const std::string& target = request.target;
    if (engine_.isAdbTargetResponsive(target, kFastReuseTimeout, kShared)) {
        log("扫码冷启动快速唤醒：复用共享 5037 已在线 transport: " + target);
        return kShared;
    }
    AdbServerScope scope = engine_.preferredScanAdbServerScope();
    if (scope == kPrivate && engine_.isAdbTargetResponsive(target, kFastReuseTimeout, kPrivate)) {
        log("扫码冷启动快速唤醒：复用专用 15037 已在线 transport: " + target);
        return kPrivate;
    }
    checkSession(request.sessionId);
    log(std::string("本次扫码投屏使用 ") + (scope == kPrivate ? "投屏专用 15037" : "共享 5037") +
        " ADB Server: " + target);
    const std::string ip = text::trimmed(request.callbackDevice.ip);
    const int port = static_cast<int>(request.callbackDevice.adbPort);
    std::mutex boxMutex;
    auto onFailure = [&](const WirelessConnectFailure& failure) {
        std::lock_guard lock(boxMutex);
        failureBox = failure;
    };
    const WirelessConnectCall privateFirst{.timeout = kConnectTimeout,
                                           .onFailure = onFailure,
                                           .scope = scope,
                                           .preferImmediateSharedFallback = scope == kPrivate};
    if (engine_.tryConnectWirelessAdb(ip, port, privateFirst)) {
        return scope;
    }
    if (scope == kPrivate) {
        checkSession(request.sessionId);
        engine_.suppressPrivateWirelessAdbTemporarily("当前扫码未形成有效 transport");
        log("投屏专用 15037 未建立连接，本次扫码无损回退共享 5037: " + target);
        {
            std::lock_guard lock(boxMutex);
            failureBox = {};
        }
        scope = kShared;
        const WirelessConnectCall shared{.timeout = kConnectTimeout, .onFailure = onFailure, .scope = kShared};
        if (engine_.tryConnectWirelessAdb(ip, port, shared)) return kShared;
    }
    checkSession(request.sessionId);
    if (auto late = waitForLateWirelessRecovery(request.device, target, request.sessionId)) return *late;
    checkSession(request.sessionId);
    std::lock_guard lock(boxMutex);
    throw MirrorError::message(
        scanConnectionFailureText(failureBox, ip, request.configuredWifiName.value_or(""), request.callbackHost));
}

std::optional<AdbServerScope> ScanMirrorTask::waitForLateWirelessRecovery(const ConnectedAdbDevice& device,
                                                                          const std::string& target,
                                                                          const std::string& sessionId) {
    log("首轮 ADB 连接未完成，当前 session 进入 15 秒低频自动恢复: " + target);
    onMain([this](const ScanTaskHooks& hooks) {
        status_.showStatus({"连接稍慢，仍在后台自动恢复..."});
        if (hooks.setMainStatus) hooks.setMainStatus("连接仍在恢复");
    });
    const std::string ip = device.ip.value_or("");
    const int port = splitHostPort(target).value_or(std::pair{ip, kWirelessAdbPort}).second;
    for (size_t round = 0; round < kRecoveryWaits.size(); ++round) {
        if (clock_.waitFor(Seconds(kRecoveryWaits[round]), tasks_.token())) throw MirrorError::cancelled();
        if (!coordinator_.book().isActiveSession(sessionId)) {
            log("延迟自动恢复已取消：扫码 session 已变化，target=" + target);
            return std::nullopt;
        }
        if (engine_.adbTargetState(target, kShared) == AdbTransportState::device &&
            engine_.isAdbTargetResponsive(target, kRecoveryProbeTimeout, kShared)) {
            log("延迟自动恢复成功：共享 5037 transport 已响应，target=" + target);
            return kShared;
        }
        if (round == 2 && engine_.refreshWirelessAdbTargetOnce(ip, port, kShared)) {
            log("延迟自动恢复成功：共享 5037 单次刷新已唤醒目标，target=" + target);
            return kShared;
        }
    }
    log("延迟自动恢复结束：当前 session 内目标仍未响应，target=" + target);
    return std::nullopt;
}

void ScanMirrorTask::succeed(const ScanMirrorRequest& request, AdbServerScope scope) {
    coordinator_.updateWirelessMirrorAckStatus(request.callbackKey, "RUNNING", "scrcpy 已通过可靠启动判定");
    engine_.syncWirelessTargetToSharedAdb(text::trimmed(request.callbackDevice.ip),
                                          static_cast<int>(request.callbackDevice.adbPort), scope);
    if (request.callbackKey) coordinator_.book().markRunning(*request.callbackKey);
    const bool current = coordinator_.book().isActiveSession(request.sessionId);
    onMain([request, current, this](const ScanTaskHooks& hooks) {
        if (!current) {
            log("旧扫码会话已取消，不再刷新投屏成功界面: sessionId=" + request.sessionId);
            return;
        }
        if (hooks.recordRecentDevice) hooks.recordRecentDevice(request.device);
        if (hooks.registerRunningMirror) hooks.registerRunningMirror(request.device);
        if (hooks.setMainStatus) hooks.setMainStatus("投屏中");
        log("扫码投屏已启动: " + request.target);
    });
    refreshDeviceTabs();
}

void ScanMirrorTask::refreshDeviceTabs() {
    {
        std::lock_guard lock(refreshMutex_);
        if (refreshing_) {
            refreshAgain_ = true;  // the running listing may have missed this success
            return;
        }
        refreshing_ = true;
    }
    for (;;) {
        try {
            auto devices = engine_.detectAdbDevices(true);
            onMain([devices = std::move(devices)](const ScanTaskHooks& hooks) {
                if (hooks.refreshDeviceTabs) hooks.refreshDeviceTabs(devices);
            });
        } catch (const std::exception&) {
            // Only enriches the tabs; the next refresh tick lists the devices anyway.
        }
        std::lock_guard lock(refreshMutex_);
        if (!refreshAgain_ || tasks_.stopRequested()) {
            refreshing_ = false;
            refreshAgain_ = false;
            return;
        }
        refreshAgain_ = false;
    }
}

void ScanMirrorTask::fail(const ScanMirrorRequest& request, const std::string& errorText, bool userClosed,
                          bool localNetworkDenied) {
    const std::string reason = userClosed ? "用户关闭投屏窗口" : "本轮投屏启动失败";
    if (!userClosed)
        coordinator_.updateWirelessMirrorAckStatus(request.callbackKey, "FAILED", callbackLogValue(errorText));
    if (request.callbackKey && coordinator_.book().releaseAfterFailure(*request.callbackKey, userClosed)) {
        log("已释放扫码投屏会话占位: key=" + *request.callbackKey + ", reason=" + reason +
            "，允许重新扫描当前二维码。");
    }
    const bool current = coordinator_.book().isActiveSession(request.sessionId);
    onMain([this, request, errorText, userClosed, localNetworkDenied, current](const ScanTaskHooks& hooks) {
        if (!current) {
            log("扫码旧会话任务已停止: sessionId=" + request.sessionId);
        } else if (userClosed) {
            log("投屏窗口已正常关闭: target=" + request.target + "，可重新扫码启动。");
            if (hooks.setMainStatus) hooks.setMainStatus("投屏已结束");
            status_.showStatus({"投屏已结束，可重新扫码启动。"});
            if (hooks.refreshRunningMirrors) hooks.refreshRunningMirrors();
        } else {
            log("扫码投屏启动失败：" + errorText);
            if (hooks.setMainStatus) hooks.setMainStatus("扫码投屏失败");
            if (localNetworkDenied) {
                status_.showLocalNetworkFailure(errorText);
            } else {
                status_.showStatus({.text = errorText, .isError = true});
            }
        }
    });
}

}  // namespace orvan
