// The simulated glasses as the real adb meets them, in what the app's end-to-end tests rely on:
// the banner, authorization, and the answers to the commands the app runs. What only one test
// uses (a USB-style serial, tcpip, vanishing, the media tree) is proven by that test itself.
#include <gtest/gtest.h>

#include "support/AdbWorld.h"

namespace orvan::testing {
namespace {

using namespace std::chrono_literals;

class SimGlasses : public ::testing::Test {
protected:
    void SetUp() override {
        if (!AdbWorld::available()) GTEST_SKIP() << "adb or glasses-sim missing";
        world_ = std::make_unique<AdbWorld>();
    }
    CommandResult shell(const std::string& serial, const std::vector<std::string>& args) {
        std::vector<std::string> all = {"-s", serial, "shell"};
        all.insert(all.end(), args.begin(), args.end());
        return world_->adb(all, 20s);
    }
    std::unique_ptr<AdbWorld> world_;
};

TEST_F(SimGlasses, ConnectedGlassesAreListedWithTheirBannerFields) {
    SimulatedGlasses& glasses = world_->startGlasses({.model = "Tervo3 X1", .media = false});
    EXPECT_EQ(world_->connectWifi(glasses), "connected to " + glasses.wifiSerial());
    const CommandResult list = world_->adb({"devices", "-l"});
    // The model is sanitised by adb: every non-alphanumeric character becomes '_'.
    EXPECT_NE(list.out.find(glasses.wifiSerial()), std::string::npos) << list.out;
    EXPECT_NE(list.out.find(" device product:tervo3 model:Tervo3_X1 device:tervo3 transport_id:"), std::string::npos)
        << list.out;
    EXPECT_NE(world_->adb({"-s", glasses.wifiSerial(), "features"}).out.find("shell_v2"), std::string::npos);
    EXPECT_EQ(world_->connectWifi(glasses), "already connected to " + glasses.wifiSerial());
}

TEST_F(SimGlasses, UnknownKeyIsUnauthorizedUntilTheUserAccepts) {
    SimulatedGlasses& glasses = world_->startGlasses({.auth = "key", .trustWorldKey = false, .media = false});
    EXPECT_EQ(world_->connectWifi(glasses), "failed to authenticate to " + glasses.wifiSerial());
    EXPECT_EQ(world_->deviceState(glasses.wifiSerial()), "unauthorized");
    const CommandResult refused = shell(glasses.wifiSerial(), {"echo", "x"});
    EXPECT_EQ(refused.exitCode, 1);
    EXPECT_NE(refused.err.find("error: device unauthorized."), std::string::npos) << refused.err;
    ASSERT_TRUE(glasses.waitForEvent([](const auto& e) { return e.value("event", "") == "auth-prompt"; }, 20s));

    EXPECT_EQ(glasses.acceptAuthorization(), 1);
    EXPECT_TRUE(world_->waitForState(glasses.wifiSerial(), "device", 20s));
    EXPECT_EQ(shell(glasses.wifiSerial(), {"echo", "allowed"}).out, "allowed\n");
}

TEST_F(SimGlasses, EveryCommandTheAppRunsAnswersLikeTheGlasses) {
    SimulatedGlasses& glasses = world_->startConnectedGlasses({.serialNo = "TV3ABCDEF123", .media = false});
    const std::string serial = glasses.wifiSerial();
    EXPECT_EQ(shell(serial, {"getprop", "ro.product.model"}).out, "Tervo3\n");
    EXPECT_EQ(shell(serial, {"getprop", "ro.serialno"}).out, "TV3ABCDEF123\n");
    EXPECT_EQ(shell(serial, {"getprop", "ro.boot.serialno"}).out, "TV3ABCDEF123\n");
    EXPECT_EQ(shell(serial, {"echo", "__ORVAN_MIRROR_ADB_READY__"}).out, "__ORVAN_MIRROR_ADB_READY__\n");

    const CommandResult ip = shell(serial, {"ip", "addr", "show", "wlan0"});
    EXPECT_EQ(ip.exitCode, 0);
    EXPECT_NE(ip.out.find("    inet " + glasses.wlanAddress() + "/24 "), std::string::npos) << ip.out;
    EXPECT_NE(shell(serial, {"cmd", "wifi", "status"}).out.find("SSID: \"OrvanOffice\","), std::string::npos);
    EXPECT_NE(shell(serial, {"dumpsys", "wifi"}).out.find("mWifiInfo SSID: \"OrvanOffice\","), std::string::npos);

    const CommandResult missing = shell(serial, {"ls", "-la", "/sdcard/Pictures/album/"});
    EXPECT_EQ(missing.exitCode, 1);
    EXPECT_EQ(missing.err, "ls: /sdcard/Pictures/album/: No such file or directory\n");

    const CommandResult unknown = shell(serial, {"frobnicate"});
    EXPECT_EQ(unknown.exitCode, 127);
    EXPECT_EQ(unknown.err, "/system/bin/sh: frobnicate: inaccessible or not found\n");
}

}  // namespace
}  // namespace orvan::testing
