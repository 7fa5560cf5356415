#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <regex>

#include "foundation/MirrorError.h"
#include "pairing/CallbackRequest.h"
#include "pairing/WirelessAdbCallbackResponse.h"
#include "pairing/WirelessAdbPayload.h"

namespace orvan {
namespace {

namespace request = callback_request;

struct LengthCase {
    const char* name;
    std::string header;  // up to the terminator
    size_t body;         // expected length minus the header block
};

class ExpectedLength : public ::testing::TestWithParam<LengthCase> {};

TEST_P(ExpectedLength, ParsesWithoutExceptionsAndClamps) {
    std::string request = GetParam().header + "\r\n\r\n";
    EXPECT_EQ(request::expectedRequestLength(request), request.size() + GetParam().body);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ExpectedLength,
    ::testing::Values(LengthCase{"caseAndBlanks", "POST / HTTP/1.1\r\ncOnTeNt-LeNgTh:\t  +7 \t", 7},
                      LengthCase{"notANumber", "POST / HTTP/1.1\r\nContent-Length: 12abc", 0},
                      LengthCase{"negative", "POST / HTTP/1.1\r\nContent-Length: -5", 0},
                      LengthCase{"int64Max", "POST / HTTP/1.1\r\nContent-Length: 9223372036854775807", 65536},
                      LengthCase{"thirtyDigits", "POST / HTTP/1.1\r\nContent-Length: " + std::string(30, '9'), 65536},
                      LengthCase{"firstLineWins", "POST / HTTP/1.1\r\nContent-Length: 3\r\nContent-Length: 9", 3},
                      LengthCase{"notUtf8", "POST / HTTP/1.1\xff\r\nContent-Length: 3", 0}),
    [](const auto& param) { return std::string(param.param.name); });

TEST(CallbackRequest, BodyPreviewEscapesLineBreaksOrFallsBackToHex) {
    std::string text = "a\r\nb" + std::string(596, 'c');
    EXPECT_EQ(request::bodyPreview(text), "a\\r\\nb" + std::string(508, 'c'));
    // 511 ASCII bytes and a three-byte character cut after its first byte.
    std::string cut = std::string(511, 'x') + "中";
    std::string hex = "78";
    for (int i = 1; i < 64; ++i) hex += " 78";
    EXPECT_EQ(request::bodyPreview(cut), hex);
}

struct DecodeCase {
    const char* name;
    std::string body;
    bool decodes;
};

class CallbackDecoding : public ::testing::TestWithParam<DecodeCase> {};

TEST_P(CallbackDecoding, FollowsTheTypeRules) {
    auto decoded = WirelessAdbCallback::decode(GetParam().body);
    EXPECT_EQ(std::holds_alternative<WirelessAdbCallback>(decoded), GetParam().decodes)
        << (decoded.index() == 1 ? std::get<1>(decoded) : "decoded");
}

const std::string kBase = R"("type":"ORVAN_WIRELESS_ADB_STATUS","sessionId":"S","status":"READY")";

INSTANTIATE_TEST_SUITE_P(
    Cases, CallbackDecoding,
    ::testing::Values(
        DecodeCase{"minimal", "{" + kBase + R"(,"version":1})", true},
        DecodeCase{"nullOptionals", "{" + kBase + R"(,"version":1,"action":null,"device":null,"message":null})", true},
        DecodeCase{"noVersion", "{" + kBase + "}", false},
        DecodeCase{"versionString", "{" + kBase + R"(,"version":"1"})", false},
        DecodeCase{"versionHuge", "{" + kBase + R"(,"version":18446744073709551615})", false},
        DecodeCase{"deviceNoIp", "{" + kBase + R"(,"version":1,"device":{"adbPort":5555}})", false},
        DecodeCase{"deviceFlagString",
                   "{" + kBase + R"(,"version":1,"device":{"ip":"a","adbPort":1,"adbEnabled":"true"}})", false},
        DecodeCase{"deepNesting", std::string(20000, '[') + std::string(20000, ']'), false}),
    [](const auto& param) { return std::string(param.param.name); });

TEST(CallbackResponse, JsonBodyLeavesOutEmptyOptionals) {
    EXPECT_EQ(
        (WirelessAdbCallbackResponse{.adbPublicKey = "", .sessionId = ""}.jsonBody()),
        R"({"adbAckSupported":true,"adbConnected":false,"alreadyMirroring":false,"mirrorAckSupported":true,"mirrorStatus":"STARTING","ok":true})");
}

const std::string kUrl = "http://192.168.1.20:18080/orvan/wireless-adb/callback";

TEST(WirelessAdbPayload, ExactTextOfEachKind) {
    WirelessAdbWifiProfile home{.ssid = "家/Home", .password = "pa\"ss", .securityType = "WPA"};
    EXPECT_EQ(
        makeWirelessAdbPayload(kEnableWirelessAdbPayload, "S", kUrl, 5555, home),
        R"({"PERSIST":false,"PORT":5555,"SID":"S","T":"ENABLE_WIRELESS_ADB",)"
        R"("U":"http:\/\/192.168.1.20:18080\/orvan\/wireless-adb\/callback","WIFI":{"P":"pa\"ss","S":"家\/Home","T":"WPA"}})");
    WirelessAdbWifiProfile corp{"Corp", "pw", "eap", "", "PEAP", "MSCHAPV2"};
    EXPECT_EQ(makeWirelessAdbPayload(kEnableWirelessAdbPayload, "S", "u", 5555, corp),
              R"({"PERSIST":false,"PORT":5555,"SID":"S","T":"ENABLE_WIRELESS_ADB","U":"u",)"
              R"("WIFI":{"EAP":"PEAP","I":"","P":"pw","PH2":"MSCHAPV2","S":"Corp","T":"eap"}})");
    EXPECT_EQ(makeWirelessAdbPayload(kDisableWirelessAdbPayload, "D", "u", 5555, std::nullopt),
              R"({"PORT":5555,"SID":"D","T":"DISABLE_WIRELESS_ADB","U":"u"})");
    EXPECT_THROW(makeWirelessAdbPayload(kEnableWirelessAdbPayload, "S", "u", 5555, std::nullopt), MirrorError);
}

}  // namespace
}  // namespace orvan
