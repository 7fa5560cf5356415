#include <gtest/gtest.h>

#include "glasses-sim/HttpPost.h"
#include "glasses-sim/ScanSession.h"

namespace orvan::sim {
namespace {

const std::string kEnable =
    R"({"PERSIST":false,"PORT":5555,"SID":"8F2C4A10-1B2C-4D5E-8F90-A1B2C3D4E5F6","T":"ENABLE_WIRELESS_ADB",)"
    R"("U":"http:\/\/192.168.1.20:18080\/orvan\/wireless-adb\/callback","WIFI":{"P":"secret","S":"Office","T":"WPA"}})";

TEST(SimScan, EnablePayloadIsReadWithEscapedSlashes) {
    const ScanPayload payload = parseScanPayload(kEnable);
    EXPECT_EQ(payload.type, "ENABLE_WIRELESS_ADB");
    EXPECT_EQ(payload.sessionId, "8F2C4A10-1B2C-4D5E-8F90-A1B2C3D4E5F6");
    EXPECT_EQ(payload.callbackUrl, "http://192.168.1.20:18080/orvan/wireless-adb/callback");
    EXPECT_EQ(payload.port, 5555);
    EXPECT_EQ(payload.wifiSsid, "Office");
}

TEST(SimScan, DisablePayloadNeedsNoWifi) {
    const ScanPayload payload = parseScanPayload(
        R"({"PORT":5555,"SID":"S2","T":"DISABLE_WIRELESS_ADB","U":"http:\/\/10.0.0.5:18081\/orvan\/wireless-adb\/callback"})");
    EXPECT_EQ(payload.type, "DISABLE_WIRELESS_ADB");
    EXPECT_FALSE(payload.wifiSsid);
}

TEST(SimScan, BrokenPayloadsNameWhatIsWrong) {
    auto reason = [](const std::string& text) {
        try {
            parseScanPayload(text);
        } catch (const std::invalid_argument& error) {
            return std::string(error.what());
        }
        return std::string("accepted");
    };
    EXPECT_NE(reason("not json").find("not JSON"), std::string::npos);
    EXPECT_NE(reason("[1]").find("object"), std::string::npos);
    EXPECT_NE(reason(R"({"T":"ENABLE_WIRELESS_ADB","U":"http://a:1/","PORT":5555})").find("SID"), std::string::npos);
    EXPECT_NE(reason(R"({"T":"X","SID":"s","U":"http://a:1/","PORT":5555})").find("unknown payload type"),
              std::string::npos);
    EXPECT_NE(reason(R"({"T":"ENABLE_WIRELESS_ADB","SID":"s","U":"http://a:1/","PORT":"5555"})").find("PORT"),
              std::string::npos);
    EXPECT_NE(reason(R"({"T":"ENABLE_WIRELESS_ADB","SID":"s","U":"http://a:1/","PORT":5555})").find("WIFI"),
              std::string::npos);
    EXPECT_NE(reason(R"({"T":"DISABLE_WIRELESS_ADB","SID":"s","U":"ftp://a/","PORT":5555})").find("http"),
              std::string::npos);
}

TEST(SimScan, CallbackUrlsAreSplitIntoHostPortAndPath) {
    const HttpUrl url = parseHttpUrl("http://192.168.1.20:18082/orvan/wireless-adb/callback");
    EXPECT_EQ(url.host, "192.168.1.20");
    EXPECT_EQ(url.port, 18082);
    EXPECT_EQ(url.path, "/orvan/wireless-adb/callback");
    EXPECT_EQ(parseHttpUrl("http://host").port, 80);
    EXPECT_THROW(parseHttpUrl("http://host:99999/"), std::invalid_argument);
    EXPECT_THROW(parseHttpUrl("http://host:x/"), std::invalid_argument);
}

TEST(SimScan, ReportsHaveTheFieldsTheComputerDecodes) {
    const ScanPayload payload = parseScanPayload(kEnable);
    const nlohmann::json device = {
        {"ip", "127.40.0.9"}, {"adbPort", 5555}, {"adbEnabled", true}, {"tcpPortOpen", true}};
    const nlohmann::json ready = ScanSession::statusReport(payload, "ENABLE", "READY", device);
    EXPECT_EQ(ready.at("type"), "ORVAN_WIRELESS_ADB_STATUS");
    EXPECT_EQ(ready.at("version"), 1);
    EXPECT_TRUE(ready.at("version").is_number_integer());
    EXPECT_EQ(ready.at("action"), "ENABLE");
    EXPECT_EQ(ready.at("status"), "READY");
    EXPECT_EQ(ready.at("sessionId"), payload.sessionId);
    EXPECT_EQ(ready.at("device").at("adbPort"), 5555);
    const nlohmann::json ack = ScanSession::ackQuery(payload, device);
    EXPECT_EQ(ack.at("type"), "ORVAN_WIRELESS_ADB_ACK");
    EXPECT_EQ(ack.at("action"), "QUERY");
    EXPECT_EQ(ack.at("status"), "WAITING");
    EXPECT_TRUE(ack.contains("device"));
}

}  // namespace
}  // namespace orvan::sim
