#include "pairing/ScanFailureText.h"

#include "foundation/Text.h"

namespace orvan {

namespace {

constexpr const char* kSecondLine =
    "\n如果使用生活版眼镜，请在手机 Orvan AI App 的“开发者”页面确认“眼镜 ADB 调试”已开启。";

}  // namespace

std::string scanConnectionFailureText(const WirelessConnectFailure& failure, const std::string& ip,
                                      const std::string& network, const std::optional<std::string>& callbackHost) {
    using Kind = WirelessConnectFailure::Kind;
    auto has = [&](const char* needle) { return text::containsIgnoringCase(failure.text, needle); };
    const std::string networkName = network.empty() ? "二维码指定网络" : network;
    if (failure.kind == Kind::sharedServerNeedsRecovery) {
        return "眼镜 " + ip + " 的 5555 端口可以访问，但共享 ADB 后台服务异常。" +
               "小助手不会重启共享 ADB，以免中断 Android Studio 或其他设备；请查看日志确认服务来源。";
    }
    if (failure.kind == Kind::localNetworkDenied) {
        return "OrvanMirror 尚未获得系统本地网络权限。点击下方按钮请求授权并打开设置；"
               "若仍没有 OrvanMirror，请完全退出并重新打开小助手后再试。";
    }
    if (has("no route to host") || has("network is unreachable")) {
        return "电脑（" + callbackHost.value_or("未知") + "）无法访问眼镜（" + ip + "）。请确认电脑与 " + networkName +
               " 允许互访；若终端可以访问 5555 端口，请查看日志确认共享 ADB 服务和目标 transport 状态。";
    }
    if (has("connection refused")) {
        return "眼镜 " + ip + " 拒绝 ADB 连接，请确认无线 ADB 端口已开启后重试。" + kSecondLine;
    }
    if (has("failed to authenticate") || has("authentication failed")) {
        return "电脑已经找到眼镜 " + ip + "，但这台眼镜尚未授权当前电脑进行 ADB 调试。" +
               "请在眼镜端确认 ADB 授权提示；若系统没有显示提示，需要先通过 USB 完成一次电脑授权。" + kSecondLine;
    }
    if (has("unauthorized")) {
        return std::string(
                   "眼镜尚未授权该电脑进行 ADB 调试。请在眼镜端确认授权提示；"
                   "若系统没有显示提示，需要先通过 USB 完成一次电脑授权。") +
               kSecondLine;
    }
    if (has("offline")) {
        return std::string(
                   "眼镜的无线 ADB 当前离线，请重新扫码；若另一台电脑刚连接过这副眼镜，"
                   "请先停止其 ADB 或投屏连接后再试。") +
               kSecondLine;
    }
    return "无法连接眼镜 " + ip + "。请确认电脑与 " + networkName + " 可以互相访问，并查看日志。";
}

}  // namespace orvan
