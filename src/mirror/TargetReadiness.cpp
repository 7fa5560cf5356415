#include "mirror/TargetReadiness.h"

#include <algorithm>
#include <exception>

#include "mirror/WirelessAdbConnectText.h"

namespace orvan {

TargetReadiness::TargetReadiness(const AdbRunner& runner, const AdbTargetProbe& probe, Clock& clock)
    : runner_(runner), probe_(probe), clock_(clock) {}

bool TargetReadiness::isWirelessAdbTargetReady(const std::string& target, double timeout, AdbServerScope scope) const {
    return probe_.isAdbTargetResponsive(target, timeout, scope);
}

bool TargetReadiness::waitForAdbTargetResponsive(const std::string& target, double timeout,
                                                 AdbServerScope scope) const {
    auto deadline = deadlineAfter(clock_, Seconds(timeout));
    double echoTimeout = std::min(timeout, 1.5);
    while (true) {
        // The echo alone decides: adb opens a shell only on a transport that is online and
        // authorized, and refuses it at once on an offline, unauthorized or unknown one, so an
        // answer tells what a state query beside it would, at one adb process less per check
        // (a classroom of pairs runs a few each on the way to its windows).
        if (probe_.echoesReadyMarker(target, echoTimeout, scope)) return true;
        clock_.sleepFor(Seconds(kTransportPollInterval));
        if (clock_.now() > deadline) return false;
    }
}

bool TargetReadiness::waitForWirelessAdbAuthorization(const std::string& target, double timeout, Logging logging,
                                                      AdbServerScope scope) const {
    log(logging, "ADB 正在等待眼镜授权，保留 " + retryDelayDescription(timeout) + " 秒确认时间: " + target);
    auto deadline = deadlineAfter(clock_, Seconds(timeout));
    while (true) {
        if (probe_.isAdbTargetResponsive(target, 1.0, scope)) {
            log(logging, "眼镜端 ADB 授权已确认: " + target);
            return true;
        }
        clock_.sleepFor(Seconds(kAuthorizationPollInterval));
        if (clock_.now() > deadline) {
            log(logging, "等待眼镜端 ADB 授权超时: " + target);
            return false;
        }
    }
}

TargetReadiness::OfflineOutcome TargetReadiness::waitForOfflineAuthorizationThenReconnectOnce(
    const std::string& target, double timeout, Logging logging, AdbServerScope scope) const {
    log(logging, "无线 ADB 首次进入 offline，保留现有 transport 等待眼镜授权: " + target);
    if (waitForWirelessAdbAuthorization(target, kOfflineAuthorizationGrace, logging, scope)) return {true, ""};

    log(logging, "offline 授权宽限期结束，仅定向重连当前眼镜一次: " + target);
    runner_.runAdb({"disconnect", target}, {.timeout = Seconds(std::min(4.0, timeout)),
                                            .check = false,
                                            .log = logging == Logging::logged,
                                            .scope = scope});
    clock_.sleepFor(Seconds(0.1));
    try {
        runner_.runAdb(
            {"connect", target},
            {.timeout = Seconds(timeout), .check = false, .log = logging == Logging::logged, .scope = scope});
    } catch (const std::exception& error) {
        log(logging, std::string("无线 ADB connect 命令异常: ") + error.what());
    }
    if (waitForAdbTargetResponsive(target, std::min(2.0, std::max(1.0, timeout / 2)), scope)) return {true, ""};

    log(logging, "定向重连后继续等待眼镜授权，兼容另一台电脑短暂占用授权提示: " + target);
    if (waitForWirelessAdbAuthorization(target, kOfflineReconnectAuthorizationGrace, logging, scope)) return {true, ""};

    log(logging, "offline 定向重连一次后仍未就绪: " + target);
    return {false, "offline"};
}

bool TargetReadiness::refreshWirelessAdbTargetOnce(const std::string& ip, int port, AdbServerScope scope) const {
    std::string target = ip + ":" + std::to_string(port);
    if (probe_.isAdbTargetResponsive(target, 1.0, scope)) return true;
    bool connected = false;
    try {
        connected = isAdbConnectSuccess(
            runner_.runAdb({"connect", target}, {.timeout = std::chrono::seconds(3), .check = false, .scope = scope}));
    } catch (const std::exception&) {
        // A hung or unlaunchable connect is a failed connect: the short wait below decides.
    }
    return waitForAdbTargetResponsive(target, connected ? 1.2 : 0.4, scope);
}

}  // namespace orvan
