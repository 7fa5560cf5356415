#include "mirror/WirelessAdbConnectText.h"

#include <cmath>
#include <cstdio>
#include <initializer_list>
#include <string_view>

#include "adb/ConnectedAdbDevice.h"
#include "foundation/Text.h"

namespace orvan {

namespace {

using text::containsAnyPhrase;

constexpr const char* kNetworkAdvice =
    "。\n请确认眼镜和电脑处于同一可互访内网；公司内网生成的二维码可以使用，但网络需允许电脑访问眼镜的 5555 端口。\n"
    "如果正在使用 VPN、代理、访客网络，或公司网络开启了客户端隔离/路由 ACL/防火墙拦截，请先关闭或切换网络后重试。\n"
    "如果终端可访问该端口但小助手仍失败，请在“系统防火墙设置”中允许 "
    "OrvanMirror 访问本地网络，然后重新打开应用。\n";

constexpr const char* kRepairingHint =
    "眼镜可能已切换 WiFi 或 IP 已变化。请用 USB 重新连接眼镜后点击“检测设备”，再开始无线投屏。";

}  // namespace

bool isDefinitiveWirelessAuthenticationFailure(const std::string& text) {
    return containsAnyPhrase(text, {"failed to authenticate", "authentication failed", "auth failed", "unauthorized"});
}

bool isTransientWirelessConnectFailure(const std::string& text) {
    return containsAnyPhrase(text, text::kHostUnreachablePhrases) ||
           containsAnyPhrase(
               text, {"connection refused", "cannot connect", "unable to connect", "failed to connect", "命令超时"});
}

bool isAdbConnectSuccess(const CommandResult& result) {
    return result.status == 0 && containsAnyPhrase(result.output, {"connected"});
}

bool saysAlreadyConnected(const std::string& output) {
    return containsAnyPhrase(output, {"already connected"});
}

std::string retryDelayDescription(double seconds) {
    char buffer[400];  // room for the largest double in fixed notation
    if (std::isfinite(seconds) && std::abs(seconds) < 1e15 && std::floor(seconds) == seconds)
        std::snprintf(buffer, sizeof buffer, "%.0f", seconds);
    else
        std::snprintf(buffer, sizeof buffer, "%.1f", seconds);
    return buffer;
}

std::string formatAdbConnectError(const std::string& ip, const std::string& output) {
    std::string trimmed = text::trimmed(output);
    if (containsAnyPhrase(trimmed, text::kHostUnreachablePhrases))
        return "电脑无法访问眼镜内网 IP：" + ip + kNetworkAdvice + kRepairingHint + "\n原始错误：" + trimmed;
    if (!trimmed.empty()) return trimmed + "\n" + kRepairingHint;
    return "无线 ADB 连接失败: " + ip + ":" + std::to_string(kWirelessAdbPort) + "\n" + kRepairingHint;
}

}  // namespace orvan
