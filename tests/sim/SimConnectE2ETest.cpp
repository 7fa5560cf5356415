// The real adb connecting to simulated glasses: states as scripted, and faults.
#include <gtest/gtest.h>

#include "support/AdbWorld.h"

namespace orvan::testing {
namespace {

using namespace std::chrono_literals;

class SimConnect : public ::testing::Test {
protected:
    void SetUp() override {
        if (!AdbWorld::available()) GTEST_SKIP() << "adb or glasses-sim missing";
        world_ = std::make_unique<AdbWorld>();
    }
    CommandResult shell(const std::string& serial, const std::vector<std::string>& args,
                        std::chrono::milliseconds timeout = 20s) {
        std::vector<std::string> all = {"-s", serial, "shell"};
        all.insert(all.end(), args.begin(), args.end());
        return world_->adb(all, timeout);
    }
    std::unique_ptr<AdbWorld> world_;
};

TEST_F(SimConnect, ConnectedGlassesAreListedWithTheirBannerFields) {
    SimulatedGlasses& glasses = world_->startGlasses({.model = "Tervo3 X1", .media = false});
    EXPECT_EQ(world_->connectWifi(glasses), "connected to " + glasses.wifiSerial());
    const CommandResult list = world_->adb({"devices", "-l"});
    EXPECT_NE(list.out.find(glasses.wifiSerial()), std::string::npos) << list.out;
    // The model is sanitised by adb: every non-alphanumeric character becomes '_'.
    EXPECT_NE(list.out.find(" device product:tervo3 model:Tervo3_X1 device:tervo3 transport_id:"), std::string::npos)
        << list.out;
    EXPECT_EQ(world_->adb({"-s", glasses.wifiSerial(), "get-state"}).out, "device\n");
    EXPECT_NE(world_->adb({"-s", glasses.wifiSerial(), "features"}).out.find("shell_v2"), std::string::npos);
    EXPECT_EQ(shell(glasses.wifiSerial(), {"getprop", "ro.product.model"}).out, "Tervo3 X1\n");
    EXPECT_EQ(world_->connectWifi(glasses), "already connected to " + glasses.wifiSerial());
}

TEST_F(SimConnect, UnknownKeyIsUnauthorizedUntilTheUserAccepts) {
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

TEST_F(SimConnect, AuthModesTrustedSelfAnsweringAndNever) {
    SimulatedGlasses& trusting = world_->startGlasses({.auth = "key", .media = false});
    EXPECT_EQ(world_->connectWifi(trusting), "connected to " + trusting.wifiSerial());
    SimulatedGlasses& patient =
        world_->startGlasses({.auth = "key", .trustWorldKey = false, .acceptAfterSeconds = 1, .media = false});
    world_->connectWifi(patient);
    EXPECT_TRUE(world_->waitForState(patient.wifiSerial(), "device", 20s));

    SimulatedGlasses& never = world_->startGlasses({.auth = "never", .media = false});
    EXPECT_EQ(world_->connectWifi(never), "failed to authenticate to " + never.wifiSerial());
    // The glasses see the host's key before they see it close the connection, so once the close
    // is reported a wrongly shown prompt would have been reported too.
    world_->adb({"disconnect", never.wifiSerial()});
    ASSERT_TRUE(never.waitForEvent([](const auto& e) { return e.value("event", "") == "disconnected"; }, 20s));
    for (const auto& event : never.events()) EXPECT_NE(event.value("event", ""), "auth-prompt") << event;
    EXPECT_EQ(never.status().at("pendingKeys"), 0);
}

TEST_F(SimConnect, OfflineGlassesAreListedOfflineAndComeBack) {
    SimulatedGlasses& glasses = world_->startGlasses({.media = false});
    world_->connectWifi(glasses);
    ASSERT_TRUE(world_->waitForState(glasses.wifiSerial(), "device", 20s));
    glasses.goOffline();
    EXPECT_TRUE(world_->waitForState(glasses.wifiSerial(), "offline", 20s));
    const CommandResult refused = shell(glasses.wifiSerial(), {"echo", "x"});
    EXPECT_EQ(refused.exitCode, 1);
    EXPECT_NE(refused.err.find("error: device offline"), std::string::npos) << refused.err;
    // The server's reconnection is held open; answering it brings the transport back.
    glasses.goOnline();
    EXPECT_TRUE(world_->waitForState(glasses.wifiSerial(), "device", 20s));
    EXPECT_EQ(shell(glasses.wifiSerial(), {"echo", "back"}).out, "back\n");
}

TEST_F(SimConnect, VanishedGlassesHangCommandsUntilTheyReturn) {
    SimulatedGlasses& glasses = world_->startGlasses({.media = false});
    world_->connectWifi(glasses);
    ASSERT_TRUE(world_->waitForState(glasses.wifiSerial(), "device", 20s));
    glasses.vanish();
    const CommandResult hung = shell(glasses.wifiSerial(), {"echo", "x"}, 1500ms);
    EXPECT_TRUE(hung.timedOut);
    // Nothing was closed: the server still believes in the transport.
    EXPECT_EQ(world_->deviceState(glasses.wifiSerial()), "device");
    glasses.goOnline();
    // The stale connection is reset; wait for the server's reconnection before using it.
    const auto reconnected = glasses.waitForEvent(
        [](const auto& e) { return e.value("event", "") == "connected" && e.value("connection", 0) >= 2; }, 20s);
    ASSERT_TRUE(reconnected);
    EXPECT_TRUE(world_->waitForState(glasses.wifiSerial(), "device", 20s));
    EXPECT_EQ(shell(glasses.wifiSerial(), {"echo", "again"}).out, "again\n");
}

TEST_F(SimConnect, RefusedConnectionsAndChangedAddress) {
    SimulatedGlasses& glasses = world_->startGlasses({.media = false});
    glasses.refuseConnections(true);
    EXPECT_EQ(world_->connectWifi(glasses), "failed to connect to '" + glasses.wifiSerial() + "': Connection refused");
    glasses.refuseConnections(false);
    EXPECT_EQ(world_->connectWifi(glasses), "connected to " + glasses.wifiSerial());
    ASSERT_TRUE(world_->waitForState(glasses.wifiSerial(), "device", 20s));

    const std::string oldSerial = glasses.wifiSerial();
    const std::string address = glasses.changeWlanAddress();
    EXPECT_NE(glasses.wifiSerial(), oldSerial);
    EXPECT_TRUE(world_->waitForState(oldSerial, "offline", 20s));  // the old address is gone from the network
    EXPECT_EQ(world_->connectWifi(glasses), "connected to " + glasses.wifiSerial());
    ASSERT_TRUE(world_->waitForState(glasses.wifiSerial(), "device", 20s));
    EXPECT_NE(shell(glasses.wifiSerial(), {"ip", "addr", "show", "wlan0"}).out.find("inet " + address + "/24"),
              std::string::npos);
}

}  // namespace
}  // namespace orvan::testing
