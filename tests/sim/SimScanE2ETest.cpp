// The glasses' side of the scan protocol: a QR code decoded from a PNG, the callbacks to the
// computer, the acknowledgement polling, and the effect on wireless ADB.
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <fstream>

#include "sim/TestCallbackServer.h"
#include "support/AdbWorld.h"

namespace orvan::testing {
namespace {

using namespace std::chrono_literals;

const std::string kSession = "5A1B2C3D-0000-4000-8000-00000000ABCD";

// The payload exactly as the computer writes it: sorted keys, compact, slashes escaped. The
// callback names a LAN address; the simulated glasses reach it on loopback.
std::string enablePayload(int port) {
    return R"({"PERSIST":false,"PORT":5555,"SID":")" + kSession +
           R"(","T":"ENABLE_WIRELESS_ADB","U":"http:\/\/192.168.77.20:)" + std::to_string(port) +
           R"(\/orvan\/wireless-adb\/callback","WIFI":{"P":"pass word","S":"Office 5G","T":"WPA"}})";
}

std::string disablePayload(int port, const std::string& session) {
    return R"({"PORT":5555,"SID":")" + session + R"(","T":"DISABLE_WIRELESS_ADB","U":"http:\/\/192.168.77.20:)" +
           std::to_string(port) + R"(\/orvan\/wireless-adb\/callback"})";
}

std::string readFile(const std::filesystem::path& path) {
    std::ifstream in(path);
    std::string text;
    std::getline(in, text);
    return text;
}

class SimScan : public ::testing::Test {
protected:
    void SetUp() override {
        if (!AdbWorld::available()) GTEST_SKIP() << "adb or glasses-sim missing";
        world_ = std::make_unique<AdbWorld>();
    }
    std::unique_ptr<AdbWorld> world_;
};

TEST_F(SimScan, QrImageDrivesTheCallbackRoundTrip) {
    if (::access("/usr/bin/qrencode", X_OK) != 0 || ::access("/usr/bin/zbarimg", X_OK) != 0) {
        GTEST_SKIP() << "qrencode or zbarimg missing";
    }
    // A computer that offers its key, then reports the connection and the running mirror.
    std::atomic<bool> connected{false};
    const std::string publicKey = readFile(world_->adbPublicKeyPath());
    TestCallbackServer server([&](const nlohmann::json& request) {
        nlohmann::json reply = {{"ok", true},
                                {"alreadyMirroring", false},
                                {"adbAckSupported", true},
                                {"mirrorAckSupported", true},
                                {"sessionId", request.value("sessionId", "")}};
        if (request.value("type", "") == "ORVAN_WIRELESS_ADB_STATUS") {
            reply["adbPublicKey"] = publicKey;
            reply["adbConnected"] = false;
            reply["mirrorStatus"] = "STARTING";
        } else {
            reply["adbConnected"] = connected.load();
            reply["mirrorStatus"] = connected ? "RUNNING" : "STARTING";
        }
        return reply;
    });
    const auto png = world_->root() / "enable.png";
    const CommandResult encode =
        runCommand({"qrencode", "-l", "M", "-o", png.string(), enablePayload(server.port())}, 20s);
    ASSERT_EQ(encode.exitCode, 0) << encode.err;

    // Unknown key and wireless ADB closed until the code is scanned.
    SimulatedGlasses& glasses = world_->startGlasses(
        {.auth = "key", .trustWorldKey = false, .wirelessAdb = false, .media = false, .extra = {{"ssid", nullptr}}});
    const int scan = glasses.scanQrImage(png, {"pollMs=100"});

    ASSERT_TRUE(server.waitFor([](const auto& requests) { return !requests.empty(); }, 10s));
    const auto ready = server.requests().front();
    EXPECT_EQ(ready.requestLine, "POST /orvan/wireless-adb/callback HTTP/1.1");
    EXPECT_EQ(ready.host, "192.168.77.20:" + std::to_string(server.port()));
    EXPECT_EQ(ready.body.at("type"), "ORVAN_WIRELESS_ADB_STATUS");
    EXPECT_EQ(ready.body.at("version"), 1);
    EXPECT_EQ(ready.body.at("action"), "ENABLE");
    EXPECT_EQ(ready.body.at("status"), "READY");
    EXPECT_EQ(ready.body.at("sessionId"), kSession);
    EXPECT_EQ(ready.body.at("device").at("ip"), glasses.wlanAddress());
    EXPECT_EQ(ready.body.at("device").at("adbPort"), 5555);
    EXPECT_EQ(ready.body.at("device").at("adbEnabled"), true);
    EXPECT_EQ(ready.body.at("device").at("tcpPortOpen"), true);
    EXPECT_EQ(ready.body.at("device").at("serial"), glasses.serialNo());

    // The glasses joined the code's network and trust the key the computer offered.
    EXPECT_EQ(world_->connectWifi(glasses), "connected to " + glasses.wlanAddress() + ":5555");
    ASSERT_TRUE(world_->waitForState(glasses.wlanAddress() + ":5555", "device", 5s));
    EXPECT_NE(
        world_->adb({"-s", glasses.wifiSerial(), "shell", "cmd", "wifi", "status"}).out.find("SSID: \"Office 5G\""),
        std::string::npos);
    connected = true;

    EXPECT_EQ(glasses.waitForScanDone(scan, 10s), "RUNNING");
    const auto requests = server.requests();
    ASSERT_GE(requests.size(), 2u);
    for (std::size_t i = 1; i < requests.size(); ++i) {
        EXPECT_EQ(requests[i].body.at("type"), "ORVAN_WIRELESS_ADB_ACK");
        EXPECT_EQ(requests[i].body.at("action"), "QUERY");
        EXPECT_EQ(requests[i].body.at("status"), "WAITING");
        EXPECT_TRUE(requests[i].body.contains("device"));
    }
    // What the computer answered is reported back, last answer included.
    const auto exchanges = glasses.scanExchanges(scan);
    ASSERT_EQ(exchanges.size(), requests.size());
    EXPECT_EQ(exchanges.back().at("response").at("mirrorStatus"), "RUNNING");
    EXPECT_EQ(exchanges.back().at("httpStatus"), 200);
}

TEST_F(SimScan, DisableCodeClosesWirelessAdbAndReportsIt) {
    TestCallbackServer server([](const nlohmann::json&) {
        return nlohmann::json{{"ok", true},
                              {"alreadyMirroring", false},
                              {"adbAckSupported", true},
                              {"adbConnected", false},
                              {"mirrorAckSupported", true},
                              {"mirrorStatus", "STARTING"}};
    });
    SimulatedGlasses& glasses = world_->startGlasses({.media = false});
    world_->connectWifi(glasses);
    ASSERT_TRUE(world_->waitForState(glasses.wifiSerial(), "device", 5s));

    const int scan = glasses.scanPayload(disablePayload(server.port(), "DISABLE-SESSION-1"));
    EXPECT_EQ(glasses.waitForScanDone(scan, 10s), "DISABLED");
    const auto requests = server.requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].body.at("action"), "DISABLE");
    EXPECT_EQ(requests[0].body.at("status"), "DISABLED");
    EXPECT_EQ(requests[0].body.at("sessionId"), "DISABLE-SESSION-1");
    EXPECT_EQ(requests[0].body.at("device").at("ip"), glasses.wlanAddress());
    EXPECT_EQ(requests[0].body.at("device").at("tcpPortOpen"), false);
    EXPECT_TRUE(world_->waitForState(glasses.wifiSerial(), "offline", 5s));
}

TEST_F(SimScan, FailureReportsAndUnreachableComputer) {
    TestCallbackServer server([](const nlohmann::json&) { return nlohmann::json{{"ok", true}}; });
    SimulatedGlasses& glasses = world_->startGlasses({.wirelessAdb = false, .media = false});
    const int failed = glasses.scanPayload(enablePayload(server.port()),
                                           {"fail=ADB_PERMISSION_DENIED", "message=no platform signature"});
    EXPECT_EQ(glasses.waitForScanDone(failed, 10s), "reported ADB_PERMISSION_DENIED");
    ASSERT_EQ(server.requests().size(), 1u);
    const nlohmann::json report = server.requests()[0].body;
    EXPECT_EQ(report.at("status"), "FAILED");
    EXPECT_EQ(report.at("errorCode"), "ADB_PERMISSION_DENIED");
    EXPECT_EQ(report.at("message"), "no platform signature");
    EXPECT_EQ(world_->connectWifi(glasses), "failed to connect to '" + glasses.wifiSerial() + "': Connection refused");

    // Nobody listens at the callback port: the scan ends with an error, the glasses live on.
    const int unreachable = glasses.scanPayload(enablePayload(pickFreePort()));
    EXPECT_EQ(glasses.waitForScanDone(unreachable, 10s), "error");
    EXPECT_TRUE(glasses.scanExchanges(unreachable).at(0).contains("error"));
    EXPECT_THROW(glasses.scanPayload("{\"T\":\"ENABLE_WIRELESS_ADB\"}"), std::runtime_error);
}

}  // namespace
}  // namespace orvan::testing
