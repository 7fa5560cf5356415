// Discovery end to end: the real adb, an isolated adb server per test and simulated glasses on
// loopback addresses. Only what the real adb proves: its listings of a USB and a wireless view of
// one pair, and a vanished transport it still lists as "device"; parsing, merging, log lines and
// the other states are unit-tested in AdbDevicesTest, ConnectedAdbDeviceTest and DeviceDiscoveryTest.

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>

#include "adb/DeviceDiscovery.h"
#include "support/AdbWorld.h"

namespace orvan {
namespace {

using namespace std::chrono_literals;
using Serials = std::vector<std::string>;
using testing::AdbWorld;
using testing::SimulatedGlasses;

class DeviceDiscoveryE2eTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!AdbWorld::available()) GTEST_SKIP() << "needs the real adb and glasses-sim";
        world = std::make_unique<AdbWorld>();
        // The app's tool folder: the world's tracing adb; any file stands for scrcpy here.
        tools = ToolLocation::inToolFolder(world->toolFolder());
        if (!std::filesystem::exists(tools.scrcpy)) {
            tools.scrcpy = world->root() / "scrcpy-placeholder";
            std::ofstream(tools.scrcpy) << "";
        }
        runner = std::make_unique<AdbRunner>(tools.adb, world->privateServerPort(), nullptr);
        discovery = std::make_unique<DeviceDiscovery>(*runner, tools);
    }

    std::unique_ptr<AdbWorld> world;
    ToolLocation tools;
    std::unique_ptr<AdbRunner> runner;
    std::unique_ptr<DeviceDiscovery> discovery;
};

TEST_F(DeviceDiscoveryE2eTest, UsbAndWirelessViewsOfTwoPairsAreDetected) {
    SimulatedGlasses& glasses = world->startGlasses({.serialNo = "TV3E2E0042", .usb = true});
    world->registerUsb(glasses);
    world->connectWifi(glasses);
    ASSERT_TRUE(world->waitForState(glasses.wifiSerial(), "device", 10s));
    // A second pair, only on Wi-Fi, is other glasses.
    SimulatedGlasses& other = world->startGlasses({.model = "Tervo3 Pro", .serialNo = "TV3E2E0099"});
    world->connectWifi(other);
    ASSERT_TRUE(world->waitForState(other.wifiSerial(), "device", 10s));

    auto devices = discovery->detectAdbDevices(false);

    EXPECT_EQ(devices.usb, Serials{glasses.usbSerial()});
    Serials wireless{glasses.wifiSerial(), other.wifiSerial()};
    std::sort(wireless.begin(), wireless.end());  // adb lists transports sorted by serial
    EXPECT_EQ(devices.wireless, wireless);
    for (const auto& serial : {glasses.usbSerial(), glasses.wifiSerial()}) {
        SCOPED_TRACE(serial);
        EXPECT_EQ(devices.models.at(serial), "Tervo3");
        EXPECT_EQ(devices.deviceIds.at(serial), "TV3E2E0042");
        EXPECT_EQ(devices.ips.at(serial), glasses.wlanAddress());
        EXPECT_EQ(devices.wifiNames.at(serial), "OrvanOffice");
    }
    EXPECT_EQ(devices.models.at(other.wifiSerial()), "Tervo3 Pro");
    EXPECT_EQ(devices.deviceIds.at(other.wifiSerial()), "TV3E2E0099");
}

TEST_F(DeviceDiscoveryE2eTest, AWirelessTransportThatStopsAnsweringIsDisconnectedAndLeftOut) {
    SimulatedGlasses& healthy = world->startGlasses();
    SimulatedGlasses& dying = world->startGlasses();
    world->connectWifi(healthy);
    world->connectWifi(dying);
    ASSERT_TRUE(world->waitForState(healthy.wifiSerial(), "device", 10s));
    ASSERT_TRUE(world->waitForState(dying.wifiSerial(), "device", 10s));
    dying.vanish();  // no answers, but the TCP connection stays: adb still lists it as "device"
    ASSERT_EQ(world->deviceState(dying.wifiSerial()), "device");

    auto devices = discovery->detectAdbDevices(false);  // the echo's time-out is DeviceDiscoveryTest's

    EXPECT_EQ(devices.wireless, Serials{healthy.wifiSerial()});
    EXPECT_EQ(devices.models.count(dying.wifiSerial()), 0u);
    EXPECT_EQ(world->deviceState(dying.wifiSerial()), std::nullopt);  // disconnected from the shared server
    EXPECT_EQ(world->deviceState(healthy.wifiSerial()), "device");
}

}  // namespace
}  // namespace orvan
