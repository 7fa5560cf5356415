#include <gtest/gtest.h>

#include "adb/AdbDevices.h"

namespace orvan {
namespace {

using Serials = std::vector<std::string>;

// Each row: a listing and the USB and wireless serials it yields, in listing order.
TEST(ParseAdbDevices, KeepsUsableTransportsAfterTheHeaderWhateverTheNoise) {
    std::string garbage = "List of devices attached\n";
    garbage += std::string(100 * 1024, 'x') + "\n";
    garbage += std::string(50 * 1024, ' ') + "\t \t" + std::string(50 * 1024, '\t') + "\n";
    garbage += "\x01\x02\xff\xfe\x7f\n";
    garbage += std::string("JUNK\tdevice") + std::string(100 * 1024, 'y') + "\n";
    garbage += "ABC123 \t  device   \n";
    garbage += std::string("\0\0\0\n", 4);
    for (int i = 0; i < 2000; ++i) garbage += "- - -\n";
    garbage += "127.0.0.2:5555\tdevice\n";
    const struct {
        std::string listing;
        Serials usb, wireless;
    } rows[] = {
        {"List of devices attached\nZED\tdevice\n10.0.0.3:5555\tdevice\nALPHA\tdevice\n10.0.0.2:5555\tdevice\n\n",
         {"ZED", "ALPHA"},
         {"10.0.0.3:5555", "10.0.0.2:5555"}},
        {"List of devices attached\nUNAUTH1\tunauthorized\n127.0.0.2:5555\toffline\n127.0.0.3:5555\tauthorizing\n"
         "DEVICEX\tDevice\n"  // the state word is exact
         "emulator-5554          device product:tervo model:Tervo3 device:tervo transport_id:3\nlonely\n"
         "adb-XYZ._adb-tls-connect._tcp\tdevice\n",
         {"emulator-5554", "adb-XYZ._adb-tls-connect._tcp"},
         {}},
        {"", {}, {}},
        {"\n\n\nList of devices attached\n\n", {}, {}},
        {"ABC123\tdevice", {}, {}},  // the first line is always the header
        {"ABC123\tdevice\nDEF456\tdevice\n", {"DEF456"}, {}},
        // What the client prints when it had to start the shared server first.
        {"* daemon not running; starting now at tcp:5037\n* daemon started successfully\n"
         "List of devices attached\nABC123\tdevice\n127.0.0.2:5555\tdevice\n",
         {"ABC123"},
         {"127.0.0.2:5555"}},
        {"List of devices attached\r\nABC123\tdevice\r\n127.0.0.2:5555\tdevice\r\n\r\n",
         {"ABC123"},
         {"127.0.0.2:5555"}},
        {garbage, {"ABC123"}, {"127.0.0.2:5555"}},
    };
    for (const auto& row : rows) {
        auto devices = parseAdbDevices(row.listing);
        EXPECT_EQ(devices.usb, row.usb) << row.listing.substr(0, 200);
        EXPECT_EQ(devices.wireless, row.wireless) << row.listing.substr(0, 200);
        EXPECT_TRUE(devices.models.empty() && devices.deviceIds.empty() && devices.ips.empty());
    }
}

TEST(AdbDevicesMembers, HasAnyPrimaryWirelessIpAndWirelessHostPart) {
    AdbDevices devices;
    EXPECT_FALSE(devices.hasAny());
    EXPECT_EQ(devices.primaryWirelessIp(), std::nullopt);
    devices.usb = {"ABC"};
    EXPECT_TRUE(devices.hasAny());
    EXPECT_EQ(devices.primaryWirelessIp(), std::nullopt);
    devices.wireless = {"192.168.1.20:5555", "192.168.1.21:5555"};
    EXPECT_EQ(devices.primaryWirelessIp(), "192.168.1.20");
    EXPECT_EQ(wirelessHostPart("192.168.1.20:5555"), "192.168.1.20");
    EXPECT_EQ(wirelessHostPart("host:1:2"), "host");
    EXPECT_EQ(wirelessHostPart(":5555"), "5555");  // empty pieces are dropped
    EXPECT_EQ(wirelessHostPart("host:"), "host");
    EXPECT_EQ(wirelessHostPart(":"), std::nullopt);
    EXPECT_EQ(wirelessHostPart(""), std::nullopt);
}

TEST(AdbDevicesMembers, ConnectedDevicesListUsbFirstWithTheirDefaults) {
    AdbDevices devices;
    devices.wireless = {"192.168.1.20:5555", "10.0.0.9:5555"};
    devices.usb = {"ABC123", "DEF456"};
    devices.models = {{"ABC123", "Tervo3"}, {"10.0.0.9:5555", "Tervo3 Pro"}};
    devices.deviceIds = {{"DEF456", "HW-DEF"}, {"10.0.0.9:5555", "HW-9"}};
    devices.ips = {{"ABC123", "192.168.1.20"}, {"10.0.0.9:5555", "10.0.0.99"}};
    devices.wifiNames = {{"ABC123", "Office"}, {"192.168.1.20:5555", "Office"}};

    auto list = devices.connectedDevices();
    ASSERT_EQ(list.size(), 4u);
    EXPECT_EQ(list[0], (ConnectedAdbDevice{"ABC123", "USB", std::string("192.168.1.20"), std::string("Office"),
                                           std::string("Tervo3"), std::string("ABC123"), true, false}));
    EXPECT_EQ(list[1], (ConnectedAdbDevice{"DEF456", "USB", std::nullopt, std::nullopt, std::nullopt,
                                           std::string("HW-DEF"), true, false}));
    EXPECT_EQ(list[2], (ConnectedAdbDevice{"192.168.1.20:5555", "无线", std::string("192.168.1.20"),
                                           std::string("Office"), std::nullopt, std::nullopt, false, true}));
    EXPECT_EQ(list[3], (ConnectedAdbDevice{"10.0.0.9:5555", "无线", std::string("10.0.0.99"), std::nullopt,
                                           std::string("Tervo3 Pro"), std::string("HW-9"), false, true}));
    EXPECT_TRUE(list[0].isSamePhysicalDevice(list[2]));
}

TEST(MatchingUsbDevice, FindsTheSameGlassesOrTheOnlyUsbEntry) {
    AdbDevices devices;
    devices.usb = {"AAA", "BBB"};
    devices.ips = {{"BBB", "192.168.1.20"}};
    ConnectedAdbDevice stale{"192.168.1.20:5555", "无线", std::string("192.168.1.20"), {}, {}, {}, false, true};
    EXPECT_EQ(matchingUsbDevice(stale, devices)->serial, "BBB");

    ConnectedAdbDevice elsewhere = stale;
    elsewhere.ip = "10.9.9.9";
    elsewhere.serial = "10.9.9.9:5555";
    EXPECT_EQ(matchingUsbDevice(elsewhere, devices), std::nullopt);

    AdbDevices single;
    single.usb = {"ONLY"};
    EXPECT_EQ(matchingUsbDevice(elsewhere, single), std::nullopt);  // a wireless target is no USB hint
    ConnectedAdbDevice mergedTarget = elsewhere;
    mergedTarget.hasUsb = true;  // it was on USB when the user picked it
    EXPECT_EQ(matchingUsbDevice(mergedTarget, single)->serial, "ONLY");
    EXPECT_EQ(matchingUsbDevice(mergedTarget, devices), std::nullopt);  // two candidates: no guess
    EXPECT_EQ(matchingUsbDevice(mergedTarget, AdbDevices{}), std::nullopt);

    // A USB entry found by device id, not the first one listed.
    AdbDevices byId;
    byId.usb = {"FIRST", "SECOND"};
    byId.deviceIds = {{"SECOND", "HW-2"}};
    ConnectedAdbDevice wirelessWithId{
        "10.0.0.5:5555", "无线", std::string("10.0.0.5"), std::nullopt, std::nullopt, std::string("hw-2"), false, true};
    EXPECT_EQ(matchingUsbDevice(wirelessWithId, byId)->serial, "SECOND");
}

}  // namespace
}  // namespace orvan
