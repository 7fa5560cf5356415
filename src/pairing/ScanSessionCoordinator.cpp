#include "pairing/ScanSessionCoordinator.h"

#include <algorithm>

#include "foundation/Text.h"
#include "pairing/CallbackLogValue.h"

namespace orvan {

namespace {

constexpr const char* kStatusType = "ORVAN_WIRELESS_ADB_STATUS";
constexpr const char* kAckType = "ORVAN_WIRELESS_ADB_ACK";

std::string logValue(const std::optional<std::string>& value) {
    return callbackLogValue(value ? std::optional<std::string_view>(*value) : std::nullopt);
}
std::string logValue(const std::string& value) {
    return callbackLogValue(std::string_view(value));
}

// An address fit for an adb argument and a log line: no blanks or control characters inside.
bool isPlainAddress(const std::string& ip) {
    return !ip.empty() && ip.size() <= 253 &&
           std::none_of(ip.begin(), ip.end(), [](unsigned char c) { return c <= 0x20 || c == 0x7f; });
}

bool isAckQuery(const WirelessAdbCallback& callback) {
    return callback.type == kAckType && callback.version == 1 && callback.action == "QUERY" &&
           callback.status == "WAITING" && callback.device.has_value();
}

}  // namespace

std::optional<std::string> callbackTarget(const WirelessAdbCallback& callback) {
    if (!callback.device) return std::nullopt;
    return text::trimmed(callback.device->ip) + ":" + std::to_string(callback.device->adbPort);
}

bool hasUsableCallbackDevice(const WirelessAdbCallback& callback) {
    if (!callback.device) return false;
    const auto& device = *callback.device;
    // Ports beyond 65535 are as unusable as 0: adb could only fail on them.
    return device.adbEnabled && device.tcpPortOpen && isPlainAddress(text::trimmed(device.ip)) && device.adbPort > 0 &&
           device.adbPort <= 65535;
}

ConnectedAdbDevice wirelessTargetDevice(const std::string& target, const std::string& ip,
                                        const std::optional<std::string>& glassesSerial) {
    ConnectedAdbDevice device;
    device.serial = target;
    device.connectionKind = connection_kind::kWireless;
    device.ip = ip;
    device.hasWireless = true;
    if (glassesSerial && !text::trimmed(*glassesSerial).empty()) device.deviceId = text::trimmed(*glassesSerial);
    return device;
}

ScanSessionCoordinator::ScanSessionCoordinator(MainQueue& mainQueue, ScanStatusSink& status, ScanSessionHooks hooks)
    : main_(mainQueue),
      status_(status),
      hooks_(std::move(hooks)),
      foreignLog_([this](const std::string& line) { foreignLines_.push_back(line); }, 20, std::chrono::minutes(1),
                  "非当前会话的无线 ADB 回调") {}

bool ScanSessionCoordinator::isForeign(const WirelessAdbCallback& callback) const {
    if (callback.action == "DISABLE") return !book_.isCurrentDisableSession(callback.sessionId);
    return !book_.isActiveSession(callback.sessionId);
}

void ScanSessionCoordinator::logForeign(const WirelessAdbCallback& callback) {
    std::vector<std::string> lines;
    {
        std::lock_guard lock(foreignLogLock_);
        foreignLog_.log("已忽略非当前会话的无线 ADB 回调: action=" + logValue(callback.action) +
                        ", status=" + logValue(callback.status) + ", sessionId=" + logValue(callback.sessionId));
        lines.swap(foreignLines_);
    }
    for (const auto& line : lines) log(line);
}

void ScanSessionCoordinator::log(const std::string& line) const {
    if (hooks_.onLog) hooks_.onLog(line);
}

void ScanSessionCoordinator::sessionChanged(const std::string& oldId, const std::string& newId) {
    book_.changeSession(newId);
    log("扫码会话已切换: old=" + logValue(oldId) + ", new=" + logValue(newId) + "；旧会话后台任务将停止。");
}

bool ScanSessionCoordinator::isCurrentReadyEnableCallback(const WirelessAdbCallback& callback) const {
    return callback.type == kStatusType && callback.version == 1 && callback.action == "ENABLE" &&
           callback.status == "READY" && hasUsableCallbackDevice(callback) && book_.isActiveSession(callback.sessionId);
}

WirelessAdbCallbackResponse ScanSessionCoordinator::handleWirelessAdbCallback(const WirelessAdbCallback& callback) {
    WirelessAdbCallbackResponse response;
    response.sessionId = callback.sessionId;
    const auto target = callbackTarget(callback);
    const std::string key = WirelessAdbCallbackBook::callbackConsumptionKey(callback.sessionId, target);

    if (isAckQuery(callback) && book_.isActiveSession(callback.sessionId)) {
        const auto state = book_.ackState(key);
        log("响应眼镜 ADB ACK 查询: sessionId=" + logValue(callback.sessionId) + ", target=" + logValue(key) +
            ", connected=" + (state.connected ? "true" : "false") + ", mirrorStatus=" + state.mirrorStatus);
        response.adbConnected = state.connected;
        response.mirrorStatus = state.mirrorStatus;
        return response;
    }
    if (isForeign(callback)) {
        logForeign(callback);
        return response;
    }

    bool process = false;
    std::optional<std::string> processKey;
    if (isCurrentReadyEnableCallback(callback)) {
        // Asked outside the lock: it reads the scrcpy registry.
        const bool mirroring =
            hooks_.isMirroring && hooks_.isMirroring(
                wirelessTargetDevice(*target, text::trimmed(callback.device->ip), callback.device->serial));
        const auto admission = book_.admitReady(callback.sessionId, key, mirroring);
        if (admission.sessionActive) {
            processKey = key;
            process = admission.process;
            response.alreadyMirroring = mirroring;
            if (mirroring) response.mirrorStatus = "RUNNING";
        }
        if (admission.staleCleared) {
            log("检测到 READY 占位与实际 scrcpy 状态不一致，已自动清理并重试: sessionId=" +
                logValue(callback.sessionId) + ", target=" + logValue(key));
        }
        if (process && hooks_.adbPublicKey) response.adbPublicKey = hooks_.adbPublicKey();
    }
    main_.post([this, callback, process, processKey] { processWirelessAdbCallback(callback, process, processKey); });
    return response;
}

void ScanSessionCoordinator::processWirelessAdbCallback(const WirelessAdbCallback& callback, bool shouldProcessEnable,
                                                        const std::optional<std::string>& callbackKey) {
    log("收到无线 ADB 回调: action=" + logValue(callback.action) + ", status=" + logValue(callback.status) +
        ", errorCode=" + logValue(callback.errorCode) + ", sessionId=" + logValue(callback.sessionId) +
        ", message=" + logValue(callback.message));
    if (callback.action == "DISABLE") {
        if (hooks_.processDisableWirelessAdbCallback) hooks_.processDisableWirelessAdbCallback(callback);
        return;
    }
    if (!book_.isActiveSession(callback.sessionId)) {
        log("扫码投屏回调会话不匹配，已忽略。");
        return;
    }
    if (callback.status != "READY") {
        const auto failure = wirelessAdbFailureText(callback.errorCode);
        log("扫码投屏失败: status=" + logValue(callback.status) + ", errorCode=" + logValue(callback.errorCode) +
            ", message=" + logValue(callback.message) + ", sessionId=" + logValue(callback.sessionId));
        status_.showStatus({.text = failure.text, .isError = true, .isPermanentError = failure.permanent});
        return;
    }
    if (!hasUsableCallbackDevice(callback)) {
        log("扫码投屏回调缺少有效设备信息。");
        status_.showStatus({.text = "设备信息无效", .isError = true});
        return;
    }
    const std::string ip = text::trimmed(callback.device->ip);
    const std::string target = *callbackTarget(callback);
    const auto device = wirelessTargetDevice(target, ip, callback.device->serial);
    if (hooks_.isMirroring && hooks_.isMirroring(device)) {
        if (hooks_.registerRunningMirror) hooks_.registerRunningMirror(device);
        updateWirelessMirrorAckStatus(callbackKey, "RUNNING", "目标已有 scrcpy 窗口");
        log("扫码设备已在投屏中，保持现有窗口: " + target);
        return;
    }
    if (!shouldProcessEnable) {
        log("READY 已去重: sessionId=" + logValue(callback.sessionId) + ", target=" + target +
            "，不会重复启动 scrcpy。");
        return;
    }
    status_.showStatus({.text = "无线 ADB 已开启，正在连接...", .phase = ScanStatusPhase::connecting});
    log("无线 ADB 已开启，正在连接 " + target + "...");
    if (!hooks_.startWirelessMirrorFromCallback) return;
    hooks_.startWirelessMirrorFromCallback(ScanMirrorRequest{
        .device = device,
        .callbackDevice = *callback.device,
        .target = target,
        .sessionId = callback.sessionId,
        .configuredWifiName = hooks_.configuredWifiName ? hooks_.configuredWifiName() : std::nullopt,
        .callbackHost = hooks_.callbackHost ? hooks_.callbackHost() : std::nullopt,
        .callbackKey = callbackKey,
    });
}

void ScanSessionCoordinator::updateWirelessMirrorAckStatus(const std::optional<std::string>& callbackKey,
                                                           const std::string& status, const std::string& reason) {
    if (!callbackKey || (status != "STARTING" && status != "RUNNING" && status != "FAILED")) return;
    book_.setMirrorStatus(*callbackKey, status);
    log("投屏状态 ACK 已更新: key=" + logValue(*callbackKey) + ", status=" + status + ", reason=" + reason);
}

bool ScanSessionCoordinator::releaseWirelessAdbCallbackState(const std::string& target, const std::string& reason) {
    if (!book_.releaseTarget(target)) return false;
    log("已释放扫码投屏会话占位: target=" + target + ", reason=" + reason + "，允许重新扫描当前二维码。");
    return true;
}

}  // namespace orvan
