#include <gtest/gtest.h>

#include "adb/ConnectedAdbDevice.h"

namespace orvan {
namespace {

ConnectedAdbDevice usbDevice(const std::string& serial, std::optional<std::string> deviceId = std::nullopt) {
    return ConnectedAdbDevice{serial, "USB", std::nullopt, std::nullopt, std::nullopt, std::move(deviceId),
                              true,   false};
}

ConnectedAdbDevice wirelessDevice(const std::string& serial, std::optional<std::string> ip = std::nullopt) {
    return ConnectedAdbDevice{serial, "无线", std::move(ip), std::nullopt, std::nullopt, std::nullopt, false, true};
}

ConnectedAdbDevice recentDevice(const std::string& serial, const std::string& ip) {
    return ConnectedAdbDevice{serial, "最近设备", ip,   std::string("OldWifi"), std::string("Tervo3"),
                              serial, false,      false};
}

TEST(DeviceIdentity, DisplayDeviceIdPrefersTheIdThenAUsbSerial) {
    EXPECT_EQ(usbDevice("ABC123", std::string("HW42")).displayDeviceId(), "HW42");
    EXPECT_EQ(usbDevice("ABC123", std::string("")).displayDeviceId(), "ABC123");  // empty id is no id
    EXPECT_EQ(wirelessDevice("192.168.1.20:5555").displayDeviceId(), "-");
    EXPECT_EQ(wirelessDevice("192.168.1.20:5555").storableDeviceId(), std::nullopt);
    EXPECT_EQ(usbDevice("ABC123").storableDeviceId(), "ABC123");
    // A pairing-service name has no colon: it counts as a USB-style serial.
    EXPECT_EQ(usbDevice("adb-XYZ._adb-tls-connect._tcp").displayDeviceId(), "adb-XYZ._adb-tls-connect._tcp");
}

TEST(DeviceIdentity, MirrorIdentityFallsBackFromIdToIpToSerialInLowerCase) {
    EXPECT_EQ(usbDevice("ABC123", std::string("HwId-9")).mirrorIdentity(), "device:hwid-9");
    EXPECT_EQ(wirelessDevice("Glasses.LAN:5555", std::string("Glasses.LAN")).mirrorIdentity(), "ip:glasses.lan");
    EXPECT_EQ(wirelessDevice("Glasses.LAN:5555", std::string("")).mirrorIdentity(), "serial:glasses.lan:5555");
    EXPECT_EQ(wirelessDevice("Glasses.LAN:5555").mirrorIdentity(), "serial:glasses.lan:5555");
}

TEST(DeviceIdentity, PhysicalKeysHoldOnlyTheKnownNames) {
    EXPECT_EQ(wirelessDevice("192.168.1.20:5555", std::string("192.168.1.20")).physicalKeys(),
              (std::set<std::string>{"ip:192.168.1.20", "serial:192.168.1.20:5555"}));
    EXPECT_EQ(usbDevice("ABC123").physicalKeys(), (std::set<std::string>{"id:abc123", "serial:abc123"}));
    auto withEmptyIp = usbDevice("ABC123", std::string("HW"));
    withEmptyIp.ip = "";
    EXPECT_EQ(withEmptyIp.physicalKeys(), (std::set<std::string>{"id:hw", "serial:abc123"}));
}

TEST(DeviceIdentity, SamePhysicalDeviceNeedsOneSharedKey) {
    auto usb = usbDevice("ABC123");
    usb.ip = "192.168.1.20";
    auto wireless = wirelessDevice("192.168.1.20:5555", std::string("192.168.1.20"));
    EXPECT_TRUE(usb.isSamePhysicalDevice(wireless));  // by address
    EXPECT_TRUE(wireless.isSamePhysicalDevice(usb));

    auto wirelessWithId = wirelessDevice("10.0.0.9:5555", std::string("10.0.0.9"));
    wirelessWithId.deviceId = "abc123";
    EXPECT_TRUE(usbDevice("ABC123").isSamePhysicalDevice(wirelessWithId));  // ids compare case-blind

    EXPECT_FALSE(usbDevice("ABC123").isSamePhysicalDevice(wirelessDevice("10.0.0.9:5555", std::string("10.0.0.9"))));
    // Two wireless views without ids and different addresses are different glasses.
    EXPECT_FALSE(wirelessDevice("10.0.0.8:5555").isSamePhysicalDevice(wirelessDevice("10.0.0.9:5555")));
}

TEST(DeviceTexts, ConnectionText) {
    auto both = usbDevice("A");
    both.hasWireless = true;
    EXPECT_EQ(both.connectionText(), "USB 和无线 ADB 均已连接");
    EXPECT_EQ(usbDevice("A").connectionText(), "USB ADB 已连接");
    EXPECT_EQ(wirelessDevice("1.2.3.4:5555").connectionText(), "无线 ADB 已连接");
    EXPECT_EQ(recentDevice("A", "1.2.3.4").connectionText(), "最近设备");
}

TEST(DeviceTexts, TabNameIsTheModelElseAShortIdElseTheIdsTail) {
    auto device = usbDevice("ABC123");
    device.model = "  Tervo3 Pro \n";
    EXPECT_EQ(device.tabDisplayName(), "Tervo3 Pro");
    device.model = " \n ";  // a blank model is no model
    EXPECT_EQ(device.tabDisplayName(), "ABC123");
    EXPECT_EQ(usbDevice("X", std::string("12345678")).tabDisplayName(), "12345678");    // 8: shown whole
    EXPECT_EQ(usbDevice("X", std::string("123456789")).tabDisplayName(), "设备 6789");  // 9: the tail
    EXPECT_EQ(usbDevice("X", std::string("TERVO3A1B2C3")).tabDisplayName(), "设备 B2C3");
    // Characters, not bytes: six Chinese characters are 18 bytes but a short id.
    EXPECT_EQ(usbDevice("X", std::string("眼镜一号二号")).tabDisplayName(), "眼镜一号二号");
    EXPECT_EQ(usbDevice("X", std::string("眼镜编号甲乙丙丁戊")).tabDisplayName(), "设备 乙丙丁戊");
    EXPECT_EQ(wirelessDevice("10.0.0.9:5555").tabDisplayName(), "未知设备");
    // A remembered record shows its serial, which stands in for the device id.
    ConnectedAdbDevice remembered{"SERIAL42",   "最近设备",   std::string("1.2.3.4"),
                                  std::nullopt, std::nullopt, std::string("SERIAL42"),
                                  false,        false};
    EXPECT_EQ(remembered.tabDisplayName(), "SERIAL42");
}

TEST(DeviceMerge, UsbAndWirelessViewsBecomeOneWirelessRecord) {
    auto usb = usbDevice("ABC123", std::string("ABC123"));
    usb.model = "Tervo3";
    usb.wifiName = "Office";
    auto wireless = wirelessDevice("192.168.1.20:5555", std::string("192.168.1.20"));

    for (const auto& merged : {usb.merged(wireless), wireless.merged(usb)}) {
        EXPECT_EQ(merged.serial, "192.168.1.20:5555");  // mirroring goes over Wi-Fi
        EXPECT_EQ(merged.connectionKind, "USB 和无线");
        EXPECT_TRUE(merged.hasUsb);
        EXPECT_TRUE(merged.hasWireless);
        EXPECT_EQ(merged.deviceId, "ABC123");
        EXPECT_EQ(merged.ip, "192.168.1.20");
        EXPECT_EQ(merged.model, "Tervo3");
        EXPECT_EQ(merged.wifiName, "Office");
        EXPECT_EQ(merged.mirrorIdentity(), "device:abc123");
    }
}

TEST(DeviceMerge, DeviceIdFallsBackToAUsbSerialNeverToAnAddress) {
    auto merged = wirelessDevice("10.0.0.9:5555").merged(usbDevice("USBSER"));
    EXPECT_EQ(merged.deviceId, "USBSER");
    auto wirelessOnly = wirelessDevice("10.0.0.9:5555").merged(wirelessDevice("10.0.0.9:5556"));
    EXPECT_EQ(wirelessOnly.deviceId, std::nullopt);
    EXPECT_EQ(wirelessOnly.serial, "10.0.0.9:5555");  // neither is preferred: the receiver wins
    EXPECT_EQ(wirelessOnly.connectionKind, "无线");
}

TEST(DeviceMerge, LiveRecordWinsOverRecentAndRecentWifiNameIsNeverTaken) {
    auto recent = recentDevice("abc123", "192.168.1.20");
    auto usb = usbDevice("ABC123");
    ASSERT_TRUE(recent.isSamePhysicalDevice(usb));
    auto merged = recent.merged(usb);
    EXPECT_EQ(merged.serial, "ABC123");  // the live view's serial
    EXPECT_EQ(usb.merged(recent).serial, "ABC123");
    EXPECT_EQ(merged.connectionKind, "USB");
    EXPECT_EQ(merged.wifiName, std::nullopt);  // the recent record's network may be stale
    EXPECT_EQ(merged.model, "Tervo3");
    EXPECT_EQ(merged.ip, "192.168.1.20");

    auto wirelessWithName = wirelessDevice("192.168.1.20:5555", std::string("192.168.1.20"));
    wirelessWithName.wifiName = "  Lab \n";
    EXPECT_EQ(recent.merged(wirelessWithName).wifiName, "Lab");

    // Two remembered records: the receiver is primary and its kind stays.
    auto two = recent.merged(recentDevice("OTHER", "192.168.1.20"));
    EXPECT_EQ(two.serial, "abc123");
    EXPECT_EQ(two.connectionKind, "最近设备");
    EXPECT_FALSE(two.isCurrentlyConnected());
}

TEST(DeviceMerge, BlankDetailsDoNotHideTheOtherViewsValues) {
    auto a = usbDevice("ABC123", std::string("  "));
    a.ip = " ";
    a.model = "";
    auto b = wirelessDevice("10.0.0.9:5555", std::string("10.0.0.9"));
    b.model = "Tervo3";
    auto merged = a.merged(b);
    EXPECT_EQ(merged.ip, "10.0.0.9");
    EXPECT_EQ(merged.model, "Tervo3");
    EXPECT_EQ(merged.deviceId, "ABC123");
}

TEST(DeviceKnownDetails, LiveRecordIsCompletedButKeepsItsConnection) {
    auto live = wirelessDevice("192.168.1.20:5555", std::string("192.168.1.20"));
    live.wifiName = "Lab";
    auto known = recentDevice("ABC123", "192.168.1.99");
    auto completed = live.withKnownDetails(known);
    EXPECT_EQ(completed.serial, "192.168.1.20:5555");
    EXPECT_EQ(completed.connectionKind, "无线");
    EXPECT_TRUE(completed.hasWireless);
    EXPECT_FALSE(completed.hasUsb);
    EXPECT_EQ(completed.ip, "192.168.1.20");  // its own address first
    EXPECT_EQ(completed.wifiName, "Lab");     // its own, live
    EXPECT_EQ(completed.model, "Tervo3");     // remembered
    EXPECT_EQ(completed.deviceId, "ABC123");  // the remembered USB serial
    EXPECT_EQ(completed.mirrorIdentity(), "device:abc123");

    auto liveWithoutName = wirelessDevice("192.168.1.20:5555");
    EXPECT_EQ(liveWithoutName.withKnownDetails(known).wifiName, std::nullopt);  // never the remembered one
    EXPECT_EQ(liveWithoutName.withKnownDetails(known).ip, "192.168.1.99");
    // A record that is not connected drops even its own Wi-Fi name.
    EXPECT_EQ(recentDevice("A", "1.1.1.1").withKnownDetails(known).wifiName, std::nullopt);
}

}  // namespace
}  // namespace orvan
