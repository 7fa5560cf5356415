#include <gtest/gtest.h>

#include "shell/ManualPageRules.h"

namespace orvan {
namespace {

ConnectedAdbDevice usb(const std::string& serial) {
    return ConnectedAdbDevice{serial, connection_kind::kUsb, std::nullopt, std::nullopt, std::string("Tervo3"), serial, true, false};
}
ConnectedAdbDevice wireless(const std::string& ip) {
    return ConnectedAdbDevice{ip + ":5555", connection_kind::kWireless, ip, std::nullopt, std::nullopt, std::nullopt, false, true};
}
ConnectedAdbDevice recent(const std::string& serial, const std::string& ip) {
    return ConnectedAdbDevice{serial, connection_kind::kRecent, ip, std::nullopt, std::nullopt, serial, false, false};
}

TEST(StatusRows, DescribeTheSelectionOrTheIdlePage) {
    EXPECT_EQ(statusRowsFor(std::nullopt, false, "HomeWiFi"), (StatusRows{"未检测", "-", "-", "HomeWiFi", "-", "就绪"}));
    auto rows = statusRowsFor(wireless("127.0.0.2"), false, "-");
    EXPECT_EQ(rows.adb, "无线 ADB 已连接");
    EXPECT_EQ(rows.model, "-");
    EXPECT_EQ(rows.deviceId, "-");
    EXPECT_EQ(rows.ip, "127.0.0.2");
    EXPECT_EQ(rows.status, "已连接，可开始投屏。");
    EXPECT_EQ(statusRowsFor(usb("T3"), true, "-").status, "投屏中");
    EXPECT_EQ(statusRowsFor(recent("T3", "10.0.0.2"), false, "-").status, "未连接，点击开始无线投屏可尝试连接。");
}

TEST(ActiveMirrors, OneEntryPerPairKeyedByDeviceId) {
    ActiveMirrors mirrors;
    auto glasses = usb("T3ABC");
    mirrors.registerMirror(glasses);
    auto sameOverWifi = wireless("127.0.0.2");
    sameOverWifi.deviceId = "T3ABC";
    mirrors.registerMirror(sameOverWifi);
    ASSERT_EQ(mirrors.size(), 1u);
    EXPECT_TRUE(mirrors.devices().contains("T3ABC"));
    EXPECT_TRUE(mirrors.contains(glasses));
    mirrors.registerMirror(wireless("127.0.0.3"));  // no id: keyed by its address
    EXPECT_TRUE(mirrors.devices().contains("127.0.0.3"));
    EXPECT_EQ(ActiveMirrors::displayName(wireless("127.0.0.3")), "127.0.0.3");
}

TEST(ActionDevice, PrefersTheConnectedSelectionThenSwitchesToAConnectedPair) {
    std::vector<ConnectedAdbDevice> detected{usb("A"), wireless("127.0.0.2")};
    auto chosen = currentConnectedDeviceForAction(usb("A"), detected);
    EXPECT_EQ(chosen.device->serial, "A");
    EXPECT_FALSE(chosen.switched);

    chosen = currentConnectedDeviceForAction(recent("OLD", "10.0.0.9"), detected);
    EXPECT_EQ(chosen.device->serial, "A");
    EXPECT_TRUE(chosen.switched);

    chosen = currentConnectedDeviceForAction(recent("OLD", "10.0.0.9"), {});
    EXPECT_EQ(chosen.device->serial, "OLD");  // recent only: try it anyway
    EXPECT_FALSE(currentConnectedDeviceForAction(std::nullopt, {}).device.has_value());
}

TEST(ExportTarget, NeverPicksOtherGlassesThanTheSelection) {
    ActiveMirrors none;
    auto target = mediaExportTargetDevice(usb("A"), none, {usb("A")});
    EXPECT_EQ(target.device->serial, "A");
    EXPECT_EQ(target.tooltip, "导出当前页签设备的照片/视频");

    target = mediaExportTargetDevice(recent("B", "10.0.0.9"), none, {usb("A")});
    EXPECT_FALSE(target.device.has_value());
    EXPECT_EQ(target.unavailableMessage, "未检测到当前在线的 ADB 设备，请先连接并选择 Tervo3。");

    ActiveMirrors two;
    two.registerMirror(usb("A"));
    two.registerMirror(usb("B"));
    target = mediaExportTargetDevice(std::nullopt, two, {});
    EXPECT_EQ(target.tooltip, "多台眼镜正在投屏，请先选择要导出的设备页签");
    EXPECT_EQ(target.unavailableMessage, "检测到多台正在投屏的眼镜，请先在“手动连接”中选择要导出的设备页签。");

    ActiveMirrors one;
    one.registerMirror(wireless("127.0.0.2"));
    EXPECT_EQ(mediaExportTargetDevice(std::nullopt, one, {}).device->serial, "127.0.0.2:5555");
}

}  // namespace
}  // namespace orvan
