// The simulated glasses as the real adb meets them, where the fakes copy adb's texts:
// authorization and a missing folder. The answers to the other commands the app runs are proven
// by the end-to-end tests that run them (DeviceDiscoveryE2eTest, MirrorE2eTest, MediaE2eTest).
#include <gtest/gtest.h>

#include <fstream>

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

TEST_F(SimGlasses, UnknownKeyIsUnauthorizedUntilTheUserAccepts) {
    SimulatedGlasses& glasses = world_->startGlasses({.auth = "key", .trustWorldKey = false, .media = false});
    EXPECT_EQ(world_->connectWifi(glasses), "failed to authenticate to " + glasses.wifiSerial());
    EXPECT_EQ(world_->deviceState(glasses.wifiSerial()), "unauthorized");
    const CommandResult refused = shell(glasses.wifiSerial(), {"echo", "x"});
    EXPECT_EQ(refused.exitCode, 1);
    EXPECT_NE(refused.out.find("error: device unauthorized."), std::string::npos) << refused.out;
    ASSERT_TRUE(glasses.waitForEvent([](const auto& e) { return e.value("event", "") == "auth-prompt"; }, 20s));

    EXPECT_EQ(glasses.acceptAuthorization(), 1);
    EXPECT_TRUE(world_->waitForState(glasses.wifiSerial(), "device", 20s));
    EXPECT_EQ(shell(glasses.wifiSerial(), {"echo", "allowed"}).out, "allowed\n");
    EXPECT_EQ(world_->connectWifi(glasses), "already connected to " + glasses.wifiSerial());
    // The media browser tells a missing folder by this text.
    const CommandResult missing = shell(glasses.wifiSerial(), {"ls", "-la", "/sdcard/Pictures/album/"});
    EXPECT_EQ(missing.out, "ls: /sdcard/Pictures/album/: No such file or directory\n");
}

// What the real clients cannot show: a server start the glasses refuse before any socket.
TEST_F(SimGlasses, ScrcpyServerStartFailsWithoutItsFileOrWithAReverseTunnel) {
    SimulatedGlasses& glasses = world_->startConnectedGlasses({.media = false});
    const std::string jar = "/data/local/tmp/scrcpy-server.jar";
    auto start = [&](const std::string& tunnel) {
        return shell(glasses.wifiSerial(), {"CLASSPATH=" + jar, "app_process", "/", "com.genymobile.scrcpy.Server",
                                            "3.3.4", "scid=0badcafe", "tunnel_forward=" + tunnel});
    };
    const CommandResult missing = start("true");
    EXPECT_EQ(missing.exitCode, 1);
    EXPECT_NE(missing.out.find("ClassNotFoundException"), std::string::npos) << missing.out;

    const auto local = world_->root() / "server.jar";
    std::ofstream(local) << "server";
    ASSERT_EQ(world_->adb({"-s", glasses.wifiSerial(), "push", local.string(), jar}).exitCode, 0);
    const CommandResult reverse = start("false");
    EXPECT_EQ(reverse.exitCode, 1);
    EXPECT_NE(reverse.out.find("tunnel_forward=true"), std::string::npos) << reverse.out;
    EXPECT_TRUE(std::filesystem::exists(glasses.hostPath(jar)));  // only a started server deletes it
}

}  // namespace
}  // namespace orvan::testing
