#include "mirror/MirrorOrchestrator.h"

#include <algorithm>
#include <set>

#include "foundation/MirrorError.h"
#include "foundation/Text.h"
#include "mirror/ScrcpyCommandLine.h"

namespace orvan {
namespace {

constexpr auto kShared = AdbServerScope::sharedDevelopment;
const char* const kStoppedMessage = "已停止投屏窗口，保留 ADB 连接以便继续检测设备或导出文件。";
// Why a stop ends a mirror that was coming back by itself (the recovery's stop line).
const std::string kUserStopReason = "用户已停止投屏";
const std::string kDisconnectStopReason = "已断开眼镜连接";

// Failures of a first start that mean the transport under scrcpy broke, not scrcpy itself: a
// start that never became ready, or a client that lost the glasses. A version mismatch, a key
// the glasses refused, an offline pair or a missing tool would only fail again.
bool isTransportFailure(const std::exception& error) {
    auto* mirror = dynamic_cast<const MirrorError*>(&error);
    return mirror && (mirror->kind() == MirrorError::Kind::scrcpyStartTimeout ||
                      mirror->kind() == MirrorError::Kind::scrcpyTransportLost);
}

}  // namespace

// ---- starts -----------------------------------------------------------------------------------

std::string MirrorOrchestrator::startWirelessMirror(const std::optional<ConnectedAdbDevice>& targetDevice) {
    return startWirelessMirror(targetDevice, false);
}

std::string MirrorOrchestrator::startWirelessGlassShellMirror(const std::optional<ConnectedAdbDevice>& targetDevice) {
    return startWirelessMirror(targetDevice, true);
}

std::string MirrorOrchestrator::startWirelessMirror(const std::optional<ConnectedAdbDevice>& targetDevice,
                                                    bool glassShell) {
    parts_.tools.checkTools();
    if (targetDevice && targetDevice->isRecent() && targetDevice->ip) {
        parts_.targets.setPreferredDeviceSerial(targetDevice->serial);
        std::string target = parts_.connector.connectWifiAdb(*targetDevice->ip);
        parts_.targets.setMirrorTarget(targetDevice->serial, target);
        parts_.launcher.startScrcpy(target, glassShell, targetDevice->mirrorIdentity(), nullptr, kShared);
        return target;
    }

    AdbDevices devices = parts_.discovery.detectAdbDevices(false);
    auto attached = devices.connectedDevices();
    auto withSerial = [&](const std::optional<std::string>& serial) -> std::optional<ConnectedAdbDevice> {
        if (!serial) return std::nullopt;
        auto found = std::find_if(attached.begin(), attached.end(),
                                  [&](const auto& device) { return device.serial == *serial; });
        if (found == attached.end()) return std::nullopt;
        return *found;
    };
    auto chosen = withSerial(targetDevice ? std::optional(targetDevice->serial) : std::nullopt);
    if (!chosen) chosen = withSerial(parts_.targets.preferredDeviceSerial());
    if (!chosen && !attached.empty()) chosen = attached.front();
    if (!chosen) throw MirrorError::message("未检测到 ADB 设备，请先连接 Tervo3。");
    parts_.targets.setPreferredDeviceSerial(chosen->serial);

    if (!isWirelessSerial(chosen->serial))
        return startWirelessMirrorFromUsb(*chosen, glassShell, chosen->mirrorIdentity(), std::nullopt);
    if (!parts_.probe.isAdbTargetResponsive(chosen->serial, kResponsiveTimeout, kShared))
        return startStaleWirelessMirror(*chosen, devices, glassShell);
    parts_.connectedTarget.set(chosen->serial);
    parts_.targets.setMirrorTarget(chosen->serial, chosen->serial);
    parts_.launcher.startScrcpy(chosen->serial, glassShell, chosen->mirrorIdentity(), nullptr, kShared);
    return chosen->serial;
}

// The glasses changed network or address: their old wireless transport is dead. With the cable
// still in, read the current address over USB and go wireless again.
std::string MirrorOrchestrator::startStaleWirelessMirror(const ConnectedAdbDevice& device, const AdbDevices& devices,
                                                         bool glassShell) {
    log("检测到失效的无线 ADB 连接，正在刷新当前眼镜地址: " + device.serial);
    disconnectQuietly(device.serial);
    if (auto usb = matchingUsbDevice(device, devices))
        return startWirelessMirrorFromUsb(*usb, glassShell, device.mirrorIdentity(), device.serial);
    std::string message = "该眼镜原有的无线 ADB 连接已失效（" + device.serial + "）。" +
                          "请保留 USB 连接并点击“检测设备”，小助手会读取眼镜当前 IP 后重新连接。";
    if (auto host = wirelessHostPart(device.serial)) message += " 原地址：" + *host + "。";
    throw MirrorError::message(message);
}

std::string MirrorOrchestrator::startWirelessMirrorFromUsb(const ConnectedAdbDevice& device, bool glassShell,
                                                           const std::optional<std::string>& mirrorIdentity,
                                                           const std::optional<std::string>& staleTarget) {
    parts_.targets.setPreferredDeviceSerial(device.serial);
    std::string ip = parts_.discovery.getWlanIp(device.serial, false);
    std::string newTarget = ip + ":" + std::to_string(kWirelessAdbPort);
    if (staleTarget && *staleTarget != newTarget) {
        parts_.targets.removeMirrorTarget(*staleTarget);
        log("眼镜无线地址已变化：" + *staleTarget + " -> " + newTarget);
    }
    parts_.runner.runAdb({"tcpip", std::to_string(kWirelessAdbPort)},
                         {.timeout = Seconds(kTcpipTimeout), .serial = device.serial, .log = true});
    parts_.clock.sleepFor(Seconds(kTcpipSettleDelay));  // adbd restarts in TCP mode

    std::string target = parts_.connector.connectWifiAdb(ip);
    if (parts_.probe.isAdbTargetResponsive(target, kResponsiveTimeout, kShared)) {
        parts_.targets.setMirrorTarget(device.serial, target);
        parts_.launcher.startScrcpy(target, glassShell, mirrorIdentity, nullptr, kShared);
        return target;
    }
    disconnectQuietly(target);
    throw MirrorError::message("已读取眼镜当前地址 " + ip + "，但无线 ADB 未进入可用状态。" +
                               "请确认电脑与眼镜所在网络允许设备互访后重试。");
}

ConnectedAdbDevice MirrorOrchestrator::recentDeviceFromUsb(const std::string& serial) const {
    ConnectedAdbDevice device;
    device.serial = serial;
    device.connectionKind = connection_kind::kRecent;
    device.ip = parts_.discovery.getWlanIp(serial, false);
    device.wifiName = parts_.discovery.getWlanSsid(serial, false);
    device.model = parts_.discovery.getDeviceModel(serial, false);
    device.deviceId = serial;
    return device;
}

std::string MirrorOrchestrator::startVerifiedWirelessMirror(const ConnectedAdbDevice& targetDevice,
                                                            const RetryHandler& onRetry,
                                                            const ShouldContinue& shouldContinue,
                                                            AdbServerScope serverScope) {
    parts_.tools.checkTools();
    const std::string& serial = targetDevice.serial;
    if (serial.find(':') == std::string::npos) throw MirrorError::message("扫码回调缺少有效的无线 ADB 目标。");
    parts_.targets.setPreferredDeviceSerial(serial);
    parts_.connectedTarget.set(serial);
    parts_.targets.setMirrorTarget(serial, serial);
    startScrcpyWithWirelessTransportRecovery(serial, false, targetDevice.mirrorIdentity(), onRetry, shouldContinue,
                                             serverScope);
    if (targetDevice.ip) return *targetDevice.ip;
    return serial.substr(0, serial.find(':'));
}

void MirrorOrchestrator::startScrcpyWithWirelessTransportRecovery(const std::string& target, bool glassShell,
                                                                  const std::optional<std::string>& mirrorIdentity,
                                                                  const RetryHandler& onRetry,
                                                                  const ShouldContinue& shouldContinue,
                                                                  AdbServerScope serverScope) {
    log("scrcpy 第 1 次启动: target=" + target);
    try {
        parts_.launcher.startScrcpy(target, glassShell, mirrorIdentity, shouldContinue, serverScope);
        return;
    } catch (const std::exception& error) {
        std::string message = error.what();
        if (!isTransportFailure(error) || !splitHostPort(target)) throw;
        if (shouldContinue && !shouldContinue()) throw MirrorError::scanSessionReplaced();
        auto state = parts_.probe.adbTargetState(target, serverScope);
        log("scrcpy 第 1 次启动失败: target=" + target + ", state=" + stateText(state) +
            ", detail=" + message);
        if (onRetry) onRetry();
        recoverTransport(target, state, std::current_exception(), serverScope);
    }
    if (parts_.probe.adbTargetState(target, serverScope) != AdbTransportState::device)
        throw MirrorError::message("当前眼镜 ADB 未恢复到 device 状态: " + target);
    if (shouldContinue && !shouldContinue()) throw MirrorError::scanSessionReplaced();
    log("scrcpy 第 2 次启动: target=" + target);
    parts_.launcher.startScrcpy(target, glassShell, mirrorIdentity, shouldContinue, serverScope);
}

// Brings the transport back the way its state calls for, or rethrows the first error.
void MirrorOrchestrator::recoverTransport(const std::string& target, const std::optional<AdbTargetState>& state,
                                          const std::exception_ptr& firstError, AdbServerScope serverScope) {
    if (state == AdbTransportState::device) {
        parts_.clock.sleepFor(Seconds(kRecoveryDelay));
        return;
    }
    if (!state || state == AdbTransportState::offline) {
        log("仅重连当前无线 ADB 目标: " + target);
        try {
            parts_.runner.runAdb({"disconnect", target},
                                 {.timeout = Seconds(kStaleDisconnectTimeout), .check = false, .scope = serverScope});
        } catch (const std::exception&) {
            // The reconnect below tells whether the transport came back.
        }
        parts_.clock.sleepFor(Seconds(0.1));
        auto [ip, port] = *splitHostPort(target);
        std::string failure;
        bool connected =
            parts_.connector.tryConnectWirelessAdb(ip, port,
                                                   {.timeout = kRecoveryConnectTimeout,
                                                    .onFailure = [&](const WirelessConnectFailure& f) { failure = f.text; },
                                                    .scope = serverScope});
        if (!connected) throw MirrorError::message("scrcpy 启动失败，当前眼镜定向重连失败。 " + failure);
        return;
    }
    if (state == AdbTransportState::unauthorized && parts_.readiness.waitForWirelessAdbAuthorization(target, kRecoveryAuthorizationWait,
                                                                                    Logging::logged, serverScope))
        return;
    std::rethrow_exception(firstError);
}

// ---- stops ------------------------------------------------------------------------------------

void MirrorOrchestrator::stopMirror() {
    if (onStop_) onStop_(std::nullopt, kUserStopReason);
    parts_.launcher.stopProcessKeys(parts_.launcher.registeredProcessKeys());
    parts_.targets.removeAllMirrorTargets();
    parts_.connectedTarget.set(std::nullopt);
    log(kStoppedMessage);
}

void MirrorOrchestrator::stopMirror(const std::optional<ConnectedAdbDevice>& targetDevice) {
    if (!targetDevice) return stopMirror();
    if (onStop_) onStop_(targetDevice->mirrorIdentity(), kUserStopReason);
    const std::string& serial = targetDevice->serial;
    auto mapped = parts_.targets.mirrorTarget(serial);

    auto keys = parts_.launcher.processKeysWithMirrorIdentity(targetDevice->mirrorIdentity());
    for (const auto& source : {std::optional(serial), mapped}) {
        if (!source) continue;
        keys.push_back({*source, MirrorWindowKind::standard});
        keys.push_back({*source, MirrorWindowKind::glassShell});
    }
    parts_.launcher.stopProcessKeys(keys);

    parts_.targets.removeMirrorTarget(serial);
    if (mapped && parts_.connectedTarget.get() == mapped) parts_.connectedTarget.set(std::nullopt);
    log(kStoppedMessage);
}

void MirrorOrchestrator::disconnect() {
    if (onStop_) onStop_(std::nullopt, kDisconnectStopReason);
    stopMirror();
    parts_.runner.runAdb({"disconnect"}, {.timeout = Seconds(kDisconnectTimeout), .check = false, .log = true});
    parts_.connectedTarget.set(std::nullopt);
    log("已断开无线 ADB 连接。");
}

void MirrorOrchestrator::disconnect(const std::optional<ConnectedAdbDevice>& targetDevice) {
    if (!targetDevice) return disconnect();
    std::set<std::string> targets;  // sorted, without duplicates
    if (isWirelessSerial(targetDevice->serial)) targets.insert(targetDevice->serial);
    if (auto mapped = parts_.targets.mirrorTarget(targetDevice->serial); mapped && isWirelessSerial(*mapped))
        targets.insert(*mapped);
    if (targetDevice->ip) targets.insert(*targetDevice->ip + ":" + std::to_string(kWirelessAdbPort));

    if (onStop_) onStop_(targetDevice->mirrorIdentity(), kDisconnectStopReason);
    stopMirror(targetDevice);
    if (targets.empty()) throw MirrorError::message("USB ADB 连接需要拔掉数据线才能断开。");
    for (const auto& target : targets) {
        parts_.runner.runAdb({"disconnect", target},
                             {.timeout = Seconds(kDisconnectTimeout), .check = false, .log = true});
        if (parts_.connectedTarget.get() == target) parts_.connectedTarget.set(std::nullopt);
    }
    log("已断开无线 ADB 连接: " + text::joined({targets.begin(), targets.end()}, ", "));
}

void MirrorOrchestrator::disconnectWirelessAdb(const std::string& ip, int port) {
    std::string target = ip + ":" + std::to_string(port);
    for (auto scope : {AdbServerScope::privateMirroring, kShared}) {
        try {
            parts_.runner.runAdb({"disconnect", target},
                                 {.timeout = Seconds(kDisconnectTimeout), .check = false, .log = true, .scope = scope});
        } catch (const std::exception&) {
            // Best effort on both servers: one that is down has nothing to disconnect.
        }
    }
    if (parts_.connectedTarget.get() == target) parts_.connectedTarget.set(std::nullopt);
    log("已从" + scopeDisplayName(AdbServerScope::privateMirroring, parts_.runner.privatePort()) +
        " 和共享 5037 断开无线 ADB: " + target);
}

void MirrorOrchestrator::disconnectQuietly(const std::string& target) const {
    parts_.runner.runAdb({"disconnect", target}, {.timeout = Seconds(kStaleDisconnectTimeout), .check = false});
}

bool MirrorOrchestrator::isMirroring(const ConnectedAdbDevice& device) const {
    return parts_.launcher.isMirroringDevice(device.mirrorIdentity(), device.serial,
                                             parts_.targets.mirrorTarget(device.serial));
}

}  // namespace orvan
