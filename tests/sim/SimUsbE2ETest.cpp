// The "USB-attached" pair: an emulator-style transport without ':' in its serial, and the
// switch to wireless ADB with tcpip.
#include <gtest/gtest.h>

#include "support/AdbWorld.h"
#include "support/Wait.h"

namespace orvan::testing {
namespace {

using namespace std::chrono_literals;

class SimUsb : public ::testing::Test {
protected:
    void SetUp() override {
        if (!AdbWorld::available()) GTEST_SKIP() << "adb or glasses-sim missing";
        world_ = std::make_unique<AdbWorld>();
    }
    std::unique_ptr<AdbWorld> world_;
};

TEST_F(SimUsb, RegisteredPairIsListedUnderASerialWithoutColon) {
    SimulatedGlasses& glasses = world_->startGlasses({.usb = true, .wirelessAdb = false, .media = false});
    world_->registerUsb(glasses);
    const std::string serial = glasses.usbSerial();
    EXPECT_EQ(serial.find(':'), std::string::npos);
    EXPECT_EQ(world_->deviceState(serial), "device");
    EXPECT_EQ(world_->adb({"-s", serial, "shell", "getprop", "ro.serialno"}).out, glasses.serialNo() + "\n");
    EXPECT_EQ(world_->adb({"-e", "shell", "echo", "emu"}).out, "emu\n");
    // The Wi-Fi side is closed until tcpip: its address refuses connections.
    EXPECT_EQ(world_->connectWifi(glasses), "failed to connect to '" + glasses.wifiSerial() + "': Connection refused");
}

TEST_F(SimUsb, TcpipOpensTheWifiSideOnTheAddressWlan0Reports) {
    SimulatedGlasses& glasses = world_->startGlasses({.usb = true, .wirelessAdb = false, .media = false});
    world_->registerUsb(glasses);
    const std::string usb = glasses.usbSerial();
    const CommandResult ip = world_->adb({"-s", usb, "shell", "ip", "addr", "show", "wlan0"});
    EXPECT_NE(ip.out.find("inet " + glasses.wlanAddress() + "/24"), std::string::npos) << ip.out;

    const CommandResult tcpip = world_->adb({"-s", usb, "tcpip", "5555"});
    EXPECT_EQ(tcpip.exitCode, 0);
    EXPECT_EQ(tcpip.out, "restarting in TCP mode port: 5555\n");
    // adbd comes back on the new port a moment after it answered; the app waits for it too.
    ASSERT_TRUE(waitUntil(
        [&] { return glasses.status().at("wirelessPort") == 5555 && glasses.status().at("wireless") == "listening"; }));
    EXPECT_EQ(world_->connectWifi(glasses), "connected to " + glasses.wlanAddress() + ":5555");
    EXPECT_TRUE(world_->waitForState(glasses.wlanAddress() + ":5555", "device", 20s));
    // The USB side restarted with adbd and is back next to the wireless transport.
    EXPECT_TRUE(world_->waitForState(usb, "device", 20s));
    EXPECT_EQ(world_->adb({"-s", glasses.wlanAddress() + ":5555", "shell", "getprop", "ro.serialno"}).out,
              glasses.serialNo() + "\n");
}

TEST_F(SimUsb, ClosingWirelessAdbDropsTheWifiTransport) {
    SimulatedGlasses& glasses = world_->startGlasses({.usb = true, .media = false});
    world_->registerUsb(glasses);
    world_->connectWifi(glasses);
    ASSERT_TRUE(world_->waitForState(glasses.wifiSerial(), "device", 20s));

    const CommandResult usbMode = world_->adb({"-s", glasses.wifiSerial(), "usb"});
    EXPECT_EQ(usbMode.out, "restarting in USB mode\n");
    EXPECT_TRUE(world_->waitForState(glasses.wifiSerial(), "offline", 20s));
    EXPECT_EQ(world_->adb({"disconnect", glasses.wifiSerial()}).exitCode, 0);
    EXPECT_EQ(world_->connectWifi(glasses), "failed to connect to '" + glasses.wifiSerial() + "': Connection refused");
    EXPECT_EQ(world_->deviceState(glasses.usbSerial()), "device");

    glasses.setWireless(true);
    EXPECT_EQ(world_->connectWifi(glasses), "connected to " + glasses.wifiSerial());
    glasses.setWireless(false);  // closed from the glasses' side
    EXPECT_TRUE(world_->waitForState(glasses.wifiSerial(), "offline", 20s));
}

}  // namespace
}  // namespace orvan::testing
