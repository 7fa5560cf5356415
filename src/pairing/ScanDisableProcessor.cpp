#include "pairing/ScanDisableProcessor.h"

#include <algorithm>
#include <set>

#include "foundation/Text.h"
#include "pairing/CallbackLogValue.h"
#include "pairing/ScanSessionCoordinator.h"

namespace orvan {

namespace {

bool overlaps(const std::set<std::string>& a, const std::set<std::string>& b) {
    for (const auto& key : a)
        if (b.contains(key)) return true;
    return false;
}

}  // namespace

ScanDisableProcessor::ScanDisableProcessor(ScanConnectionEngine& engine,
                                           std::weak_ptr<ScanDisableCode> controller, MainQueue& mainQueue,
                                           ScanDisableHooks hooks)
    : engine_(engine), controller_(std::move(controller)), main_(mainQueue), hooks_(std::move(hooks)) {}

void ScanDisableProcessor::log(const std::string& line) const {
    if (hooks_.onLog) hooks_.onLog(line);
}

void ScanDisableProcessor::fail(const std::string& reason) {
    log("关闭无线 ADB 失败：" + reason);
    if (hooks_.setMainStatus) hooks_.setMainStatus("关闭无线 ADB 失败");
    if (auto controller = controller_.lock()) {
        controller->updateDisableStatus("关闭无线 ADB 失败", reason + "，可重新扫码重试。", true);
    }
}

void ScanDisableProcessor::processDisableWirelessAdbCallback(const WirelessAdbCallback& callback) {
    auto controller = controller_.lock();
    if (!controller || callback.sessionId != controller->disableSessionId()) {
        log("关闭无线 ADB 回调会话不匹配，已忽略。");
        return;
    }
    if (callback.status != "DISABLED") {
        // The glasses' words go into the log and the status card: one clean, bounded line.
        if (callback.message) return fail(callbackLogValue(std::string_view(*callback.message)));
        if (callback.errorCode) return fail(callbackLogValue(std::string_view(*callback.errorCode)));
        return fail("眼镜返回 " + callbackLogValue(std::string_view(callback.status)));
    }
    const std::string ip = callback.device ? text::trimmed(callback.device->ip) : "";
    const int64_t port = callback.device ? callback.device->adbPort : 0;
    const bool plainIp = std::none_of(ip.begin(), ip.end(), [](unsigned char c) { return c <= 0x20 || c == 0x7f; });
    if (ip.empty() || !plainIp || port <= 0 || port > 65535) {
        log("关闭无线 ADB 回调缺少有效设备信息。");
        if (hooks_.setMainStatus) hooks_.setMainStatus("关闭无线 ADB 失败");
        controller->updateDisableStatus("设备信息无效", "关闭回调未包含有效的眼镜 IP 或 ADB 端口，请重试。", true);
        return;
    }
    controller->updateDisableStatus("已收到关闭回调...", "正在停止无线投屏并断开无线 ADB。", false);
    if (hooks_.setMainStatus) hooks_.setMainStatus("正在关闭无线 ADB...");
    const std::string target = ip + ":" + std::to_string(port);
    ConnectedAdbDevice device = wirelessTargetDevice(target, ip, callback.device->serial);
    if (hooks_.activeMirrorDevices) {
        const auto keys = device.physicalKeys();
        for (const auto& [key, running] : hooks_.activeMirrorDevices()) {
            if (overlaps(running.physicalKeys(), keys)) {
                device = running;
                break;
            }
        }
    }
    Dispatch::async(
        [self = shared_from_this(), device, ip, port = static_cast<int>(port)] {
            auto outcome = self->stopAndDisconnect(device, ip, port);
            self->main_.post([self, device, ip, port, outcome] { self->finish(ip, port, device, outcome); });
        },
        QualityOfService::userInitiated);
}

ScanDisableProcessor::Outcome ScanDisableProcessor::stopAndDisconnect(const ConnectedAdbDevice& device,
                                                                      const std::string& ip, int port) {
    Outcome outcome;
    try {
        engine_.endRecovery(device, "眼镜已关闭无线 ADB");
        engine_.stopMirror(device);
    } catch (const std::exception& error) {
        // The disconnect is still worth doing: it is what the glasses asked for.
        outcome.error = error.what();
    }
    try {
        engine_.disconnectWirelessAdb(ip, port);
    } catch (const std::exception& error) {
        if (!outcome.error) outcome.error = error.what();
    }
    if (outcome.error) return outcome;
    try {
        outcome.devices = engine_.detectAdbDevices(true);
    } catch (const std::exception&) {
        // Only refreshes the tabs; the next refresh tick lists the devices anyway.
    }
    outcome.portStillAnswers = engine_.wirelessPortAnswers(ip, port, kPortCheckTimeout);
    return outcome;
}

void ScanDisableProcessor::finish(const std::string& ip, int port, const ConnectedAdbDevice& device,
                                  const Outcome& outcome) {
    if (outcome.error) return fail(*outcome.error);
    if (hooks_.activeMirrorDevices && hooks_.removeActiveMirrorDevice) {
        // Every entry of these glasses, whatever key the mirror was registered under.
        const auto keys = device.physicalKeys();
        for (const auto& [key, running] : hooks_.activeMirrorDevices()) {
            if (overlaps(running.physicalKeys(), keys)) hooks_.removeActiveMirrorDevice(key);
        }
    }
    if (hooks_.refreshDeviceTabs) hooks_.refreshDeviceTabs(outcome.devices);
    if (hooks_.setMainStatus) hooks_.setMainStatus("无线 ADB 已关闭");
    const std::string target = ip + ":" + std::to_string(port);
    log("无线 ADB 已关闭: " + target);
    if (hooks_.refreshRunningMirrors) hooks_.refreshRunningMirrors();
    auto controller = controller_.lock();
    if (controller) controller->completeDisableQr();
    if (outcome.portStillAnswers) {
        log("眼镜已报告关闭无线 ADB，但 " + target + " 仍在响应连接。");
        if (controller) {
            controller->updateDisableStatus(
                "无线 ADB 端口仍开放", "眼镜报告已关闭，但 " + target + " 仍接受连接，请在眼镜端确认无线 ADB 已关闭。",
                true);
        }
    }
}

}  // namespace orvan
