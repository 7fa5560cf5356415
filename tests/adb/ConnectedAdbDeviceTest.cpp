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

TEST(DeviceIdentity, DisplayIdPrefersTheIdThenAUsbSerialAndMirrorIdentityFallsBackFromIdToIpToSerial) {
    EXPECT_EQ(usbDevice("ABC123", std::string("HW42")).displayDeviceId(), "HW42");
    EXPECT_EQ(usbDevice("ABC123", std::string("")).displayDeviceId(), "ABC123");  // empty id is no id
    EXPECT_EQ(wirelessDevice("192.168.1.20:5555").displayDeviceId(), "-");
    EXPECT_EQ(wirelessDevice("192.168.1.20:5555").storableDeviceId(), std::nullopt);
    EXPECT_EQ(usbDevice("ABC123").storableDeviceId(), "ABC123");
    // A pairing-service name has no colon: it counts as a USB-style serial.
    EXPECT_EQ(usbDevice("adb-XYZ._adb-tls-connect._tcp").displayDeviceId(), "adb-XYZ._adb-tls-connect._tcp");

    // The mirror identity falls back from the id to the address to the serial, in lower case.
    EXPECT_EQ(usbDevice("ABC123", std::string("HwId-9")).mirrorIdentity(), "device:hwid-9");
    EXPECT_EQ(wirelessDevice("Glasses.LAN:5555", std::string("Glasses.LAN")).mirrorIdentity(), "ip:glasses.lan");
    EXPECT_EQ(wirelessDevice("Glasses.LAN:5555", std::string("")).mirrorIdentity(), "serial:glasses.lan:5555");
    EXPECT_EQ(wirelessDevice("Glasses.LAN:5555").mirrorIdentity(), "serial:glasses.lan:5555");
}

TEST(DeviceIdentity, PhysicalKeysHoldOnlyTheKnownNamesAndOneSharedKeyMakesTheSameGlasses) {
    EXPECT_EQ(wirelessDevice("192.168.1.20:5555", std::string("192.168.1.20")).physicalKeys(),
              (std::set<std::string>{"ip:192.168.1.20", "serial:192.168.1.20:5555"}));
    EXPECT_EQ(usbDevice("ABC123").physicalKeys(), (std::set<std::string>{"id:abc123", "serial:abc123"}));
    auto withEmptyIp = usbDevice("ABC123", std::string("HW"));
    withEmptyIp.ip = "";
    EXPECT_EQ(withEmptyIp.physicalKeys(), (std::set<std::string>{"id:hw", "serial:abc123"}));

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

TEST(DeviceTexts, ConnectionTextAndATabNameOfTheModelElseAShortIdElseTheIdsTail) {
    auto both = usbDevice("A");
    both.hasWireless = true;
    EXPECT_EQ(both.connectionText(), "USB 和无线 ADB 均已连接");
    EXPECT_EQ(usbDevice("A").connectionText(), "USB ADB 已连接");
    EXPECT_EQ(wirelessDevice("1.2.3.4:5555").connectionText(), "无线 ADB 已连接");
    EXPECT_EQ(recentDevice("A", "1.2.3.4").connectionText(), "最近设备");

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

// Whole records compared: a detail taken from the wrong view fails the comparison.
TEST(DeviceMerge, UsbAndWirelessViewsBecomeOneWirelessRecordWithTheDetailsOfEither) {
    auto usb = usbDevice("ABC123", std::string("ABC123"));
    usb.model = "Tervo3";
    usb.wifiName = "Office";
    auto wireless = wirelessDevice("192.168.1.20:5555", std::string("192.168.1.20"));
    // Mirroring goes over Wi-Fi: the wireless serial, whichever side merges.
    const ConnectedAdbDevice both{"192.168.1.20:5555",
                                  "USB 和无线",
                                  std::string("192.168.1.20"),
                                  std::string("Office"),
                                  std::string("Tervo3"),
                                  std::string("ABC123"),
                                  true,
                                  true};
    EXPECT_EQ(usb.merged(wireless), both);
    EXPECT_EQ(wireless.merged(usb), both);
    EXPECT_EQ(both.mirrorIdentity(), "device:abc123");

    // The device id falls back to a USB serial, never to an address.
    EXPECT_EQ(wirelessDevice("10.0.0.9:5555").merged(usbDevice("USBSER")).deviceId, "USBSER");
    // Neither view preferred: the receiver wins.
    EXPECT_EQ(wirelessDevice("10.0.0.9:5555").merged(wirelessDevice("10.0.0.9:5556")), wirelessDevice("10.0.0.9:5555"));

    // Blank details do not hide the other view's values.
    auto blank = usbDevice("ABC123", std::string("  "));
    blank.ip = " ";
    blank.model = "";
    auto detailed = wirelessDevice("10.0.0.9:5555", std::string("10.0.0.9"));
    detailed.model = "Tervo3";
    auto merged = blank.merged(detailed);
    EXPECT_EQ(merged.ip, "10.0.0.9");
    EXPECT_EQ(merged.model, "Tervo3");
    EXPECT_EQ(merged.deviceId, "ABC123");
}

TEST(DeviceMerge, LiveRecordWinsOverRecentAndRecentWifiNameIsNeverTaken) {
    auto recent = recentDevice("abc123", "192.168.1.20");
    auto usb = usbDevice("ABC123");
    ASSERT_TRUE(recent.isSamePhysicalDevice(usb));
    // The live view's serial and kind; the recent record's network may be stale.
    const ConnectedAdbDevice live{
        "ABC123", "USB", std::string("192.168.1.20"), std::nullopt, std::string("Tervo3"), std::string("abc123"),
        true,     false};
    EXPECT_EQ(recent.merged(usb), live);
    EXPECT_EQ(usb.merged(recent).serial, "ABC123");

    auto wirelessWithName = wirelessDevice("192.168.1.20:5555", std::string("192.168.1.20"));
    wirelessWithName.wifiName = "  Lab \n";
    EXPECT_EQ(recent.merged(wirelessWithName).wifiName, "Lab");

    // Two remembered records: the receiver is primary and its kind stays.
    auto two = recent.merged(recentDevice("OTHER", "192.168.1.20"));
    EXPECT_EQ(two.serial, "abc123");
    EXPECT_EQ(two.connectionKind, "最近设备");
    EXPECT_FALSE(two.isCurrentlyConnected());
}

TEST(DeviceKnownDetails, LiveRecordIsCompletedButKeepsItsConnection) {
    auto live = wirelessDevice("192.168.1.20:5555", std::string("192.168.1.20"));
    live.wifiName = "Lab";
    auto known = recentDevice("ABC123", "192.168.1.99");
    // Its own serial, kind, address and live Wi-Fi name; the remembered model and USB serial.
    EXPECT_EQ(live.withKnownDetails(known),
              (ConnectedAdbDevice{"192.168.1.20:5555", "无线", std::string("192.168.1.20"), std::string("Lab"),
                                  std::string("Tervo3"), std::string("ABC123"), false, true}));

    auto liveWithoutName = wirelessDevice("192.168.1.20:5555");
    EXPECT_EQ(liveWithoutName.withKnownDetails(known).wifiName, std::nullopt);  // never the remembered one
    EXPECT_EQ(liveWithoutName.withKnownDetails(known).ip, "192.168.1.99");
    // A record that is not connected drops even its own Wi-Fi name.
    EXPECT_EQ(recentDevice("A", "1.1.1.1").withKnownDetails(known).wifiName, std::nullopt);
}

}  // namespace
}  // namespace orvan
