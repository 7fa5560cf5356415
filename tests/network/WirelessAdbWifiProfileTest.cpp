#include <gtest/gtest.h>

#include "network/WirelessAdbWifiProfile.h"

namespace orvan {
namespace {

struct ValidityCase {
    const char* name;
    WirelessAdbWifiProfile profile;
    bool valid;
};

const std::string kCjk10 = "一二三四五六七八九十";  // 30 bytes
const std::string kHex64(64, 'a');

class ProfileValidity : public ::testing::TestWithParam<ValidityCase> {};

TEST_P(ProfileValidity, FollowsTheSecurityTypeRules) {
    EXPECT_EQ(GetParam().profile.isValidForAutomaticConnection(), GetParam().valid) << GetParam().name;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ProfileValidity,
    ::testing::Values(
        ValidityCase{"wpa8", {.ssid = "Home", .password = "12345678", .securityType = "WPA"}, true},
        ValidityCase{"wpaLower", {.ssid = "Home", .password = "12345678", .securityType = "wpa"}, true},
        ValidityCase{"wpa7", {.ssid = "Home", .password = "1234567", .securityType = "WPA"}, false},
        ValidityCase{"wpa63", {.ssid = "Home", .password = std::string(63, '~'), .securityType = "WPA"}, true},
        ValidityCase{"wpa65", {.ssid = "Home", .password = std::string(65, 'a'), .securityType = "WPA"}, false},
        ValidityCase{"hex64", {.ssid = "Home", .password = kHex64, .securityType = "WPA"}, true},
        ValidityCase{"hex64g", {.ssid = "Home", .password = kHex64.substr(1) + "g", .securityType = "WPA"}, false},
        // Seven user-perceived characters but nine code points and 25 bytes: too short.
        ValidityCase{"wpaFamily7", {.ssid = "Home", .password = "abcdef👨‍👩", .securityType = "WPA"}, false},
        ValidityCase{"wpaCjk63",
                     {.ssid = "Home",
                      .password = kCjk10 + kCjk10 + kCjk10 + kCjk10 + kCjk10 + kCjk10 + "一二三",
                      .securityType = "WPA"},
                     true},
        ValidityCase{"ssid30Bytes", {.ssid = kCjk10, .password = "12345678", .securityType = "WPA"}, true},
        ValidityCase{"ssid33Bytes", {.ssid = kCjk10 + "一", .password = "12345678", .securityType = "WPA"}, false},
        ValidityCase{"ssidEmpty", {.ssid = "", .password = "12345678", .securityType = "WPA"}, false},
        ValidityCase{"nopass", {.ssid = "Cafe", .securityType = "nopass"}, true},
        ValidityCase{"nopassWithPassword", {.ssid = "Cafe", .password = "x", .securityType = "NOPASS"}, false},
        ValidityCase{"noType", {.ssid = "Home", .password = "12345678"}, false},
        ValidityCase{"otherType", {.ssid = "Home", .password = "12345678", .securityType = "WEP"}, false},
        ValidityCase{"eapLower", {"Corp", "pw", "eap", "alice", "peap", "mschapv2"}, true},
        ValidityCase{"eapTtls", {"Corp", "pw", "EAP", "alice", "TTLS", "MSCHAPV2"}, false},
        ValidityCase{"eapNoIdentity", {"Corp", "pw", "EAP", "", "PEAP", "MSCHAPV2"}, false},
        ValidityCase{"eapIdentity254", {"Corp", "pw", "EAP", std::string(254, 'a'), "PEAP", "MSCHAPV2"}, false},
        ValidityCase{"eapPassword129", {"Corp", std::string(129, 'p'), "EAP", "alice", "PEAP", "MSCHAPV2"}, false},
        ValidityCase{"eapNoPassword", {"Corp", "", "EAP", "alice", "PEAP", "MSCHAPV2"}, false}),
    [](const auto& param) { return std::string(param.param.name); });

TEST(WifiPayload, EscapesTheFiveCharactersAndNormalisesTheType) {
    EXPECT_EQ(wifiPayload({.ssid = "Home;Net", .password = "a:b\\c,\"d", .securityType = "wpa"}),
              "WIFI:T:WPA;S:Home\\;Net;P:a\\:b\\\\c\\,\\\"d;;");
    EXPECT_EQ(wifiPayload({.ssid = "Cafe", .securityType = "nopass"}), "WIFI:T:nopass;S:Cafe;P:;;");
    EXPECT_EQ(wifiPayload({.ssid = "Lab", .password = "12345678"}), "WIFI:T:WPA;S:Lab;P:12345678;;");
    EXPECT_EQ(escapeWifiValue("咖啡 0123abcdef"), "咖啡 0123abcdef");
}

TEST(WifiPayload, EnterpriseIsSortedCompactJsonWithEscapedSlashes) {
    WirelessAdbWifiProfile corp{"公司/Net", "p\"w", "EAP", "dom\\alice", "peap", "mschapv2"};
    EXPECT_EQ(
        wifiPayload(corp),
        R"({"EAP":"peap","EAPID":"dom\\alice","P":"p\"w","PH2":"mschapv2","S":"公司\/Net","T":"EAP","TYPE":"WIFI"})");
    corp.ssid = "\xFF";
    EXPECT_EQ(wifiPayload(corp), std::nullopt);
}

TEST(StoredProfile, RoundTripsAndRejectsMissingOrMistypedMembers) {
    WirelessAdbWifiProfile corp{"公司", "p w", "EAP", "alice", "PEAP", "MSCHAPV2"};
    EXPECT_EQ(WirelessAdbWifiProfile::fromStoredJson(corp.toStoredJson()), corp);
    const std::string complete =
        R"("ssid":"a","password":"b","securityType":"WPA","enterpriseIdentity":"","eapMethod":"","phase2Method":"")";
    EXPECT_EQ(WirelessAdbWifiProfile::fromStoredJson("{" + complete + R"(,"extra":1})"),
              (WirelessAdbWifiProfile{.ssid = "a", .password = "b", .securityType = "WPA"}));
    for (std::string broken : {std::string("{") + complete.substr(complete.find(',') + 1) + "}",
                               "{" + complete.substr(0, complete.rfind(':') + 1) + "null}", std::string("12345678"),
                               std::string("[1]"), std::string("{")}) {
        EXPECT_EQ(WirelessAdbWifiProfile::fromStoredJson(broken), std::nullopt) << broken;
    }
}

}  // namespace
}  // namespace orvan
