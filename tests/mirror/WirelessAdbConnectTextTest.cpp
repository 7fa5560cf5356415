// How the wireless connect reads adb's texts, and what it tells the user.

#include <gtest/gtest.h>

#include "mirror/WirelessAdbConnectText.h"

namespace orvan {
namespace {

const std::string kHint = "眼镜可能已切换 WiFi 或 IP 已变化。请用 USB 重新连接眼镜后点击“检测设备”，再开始无线投屏。";

TEST(WirelessAdbConnectText, AuthenticationFailures) {
    for (const char* text :
         {"failed to authenticate to 127.0.0.2:5555", "Authentication failed", "AUTH FAILED",
          "127.0.0.2:5555\tunauthorized", "error: device unauthorized.\nThis adb server's $ADB_VENDOR_KEYS"})
        EXPECT_TRUE(isDefinitiveWirelessAuthenticationFailure(text)) << text;
    for (const char* text : {"", "connected to 127.0.0.2:5555", "failed to connect: Connection refused", "authorizing",
                             "\xff\xfe", "authentic"})
        EXPECT_FALSE(isDefinitiveWirelessAuthenticationFailure(text)) << text;
}

TEST(WirelessAdbConnectText, TransientFailures) {
    for (const char* text : {"failed to connect to '127.0.0.2:5555': Connection refused",
                             "failed to connect to 127.0.0.2:5555: No route to host", "Network is unreachable",
                             "HOST IS DOWN", "destination host unreachable", "Connection timed out",
                             "Operation timed out", "timed out", "cannot connect to 127.0.0.2:5555",
                             "unable to connect to 127.0.0.2:5555", "命令超时: /x/adb connect 127.0.0.2:5555"})
        EXPECT_TRUE(isTransientWirelessConnectFailure(text)) << text;
    for (const char* text : {"", "failed to authenticate to 127.0.0.2:5555", "already connected to 127.0.0.2:5555",
                             "命令失败: adb", "no such device", "\x80\x81 refused"})
        EXPECT_FALSE(isTransientWirelessConnectFailure(text)) << text;
}

TEST(WirelessAdbConnectText, ConnectSuccessNeedsStatusZeroAndConnected) {
    EXPECT_TRUE(isAdbConnectSuccess({{}, 0, "connected to 127.0.0.2:5555"}));
    EXPECT_TRUE(isAdbConnectSuccess({{}, 0, "already connected to 127.0.0.2:5555"}));
    EXPECT_TRUE(isAdbConnectSuccess({{}, 0, "CONNECTED TO 127.0.0.2:5555"}));
    EXPECT_FALSE(isAdbConnectSuccess({{}, 1, "connected to 127.0.0.2:5555"}));
    EXPECT_FALSE(isAdbConnectSuccess({{}, 0, "failed to connect to 127.0.0.2:5555"}));  // adb exits 0 on this
    EXPECT_FALSE(isAdbConnectSuccess({{}, 0, ""}));
    EXPECT_FALSE(isAdbConnectSuccess({{}, -1, "命令超时: adb connect"}));
    EXPECT_TRUE(saysAlreadyConnected("Already Connected to 127.0.0.2:5555"));
    EXPECT_FALSE(saysAlreadyConnected("connected to 127.0.0.2:5555"));
}

TEST(WirelessAdbConnectText, ConnectErrorForAnUnreachableNetwork) {
    std::string message =
        formatAdbConnectError("192.168.1.20", "  failed to connect to '192.168.1.20:5555': No route to host\n");
    EXPECT_EQ(
        message,
        "电脑无法访问眼镜内网 IP：192.168.1.20。\n"
        "请确认眼镜和电脑处于同一可互访内网；公司内网生成的二维码可以使用，但网络需允许电脑访问眼镜的 5555 端口。\n"
        "如果正在使用 VPN、代理、访客网络，或公司网络开启了客户端隔离/路由 ACL/防火墙拦截，请先关闭或切换网络后重试。\n"
        "如果终端可访问该端口但小助手仍失败，请在“系统防火墙设置”中允许 "
        "OrvanMirror 访问本地网络，然后重新打开应用。\n" +
            kHint + "\n原始错误：failed to connect to '192.168.1.20:5555': No route to host");
    EXPECT_TRUE(
        formatAdbConnectError("10.0.0.9", "Operation TIMED OUT").starts_with("电脑无法访问眼镜内网 IP：10.0.0.9。\n"));
}

TEST(WirelessAdbConnectText, ConnectErrorWithOtherOrNoOutput) {
    EXPECT_EQ(
        formatAdbConnectError("192.168.1.20", "\tfailed to connect to '192.168.1.20:5555': Connection refused \n"),
        "failed to connect to '192.168.1.20:5555': Connection refused\n" + kHint);
    EXPECT_EQ(formatAdbConnectError("192.168.1.20", " \n "), "无线 ADB 连接失败: 192.168.1.20:5555\n" + kHint);
    EXPECT_EQ(formatAdbConnectError("", ""), "无线 ADB 连接失败: :5555\n" + kHint);
}

}  // namespace
}  // namespace orvan
