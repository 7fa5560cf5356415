#include <gtest/gtest.h>

#include "network/LanIPv4Address.h"
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

TEST(ProfileValidity, FollowsTheSecurityTypeRules) {
    for (const auto& row :
         {ValidityCase{"wpaLower", {.ssid = "Home", .password = "12345678", .securityType = "wpa"}, true},
          ValidityCase{"wpa7", {.ssid = "Home", .password = "1234567", .securityType = "WPA"}, false},
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
          ValidityCase{"nopass", {.ssid = "Cafe", .securityType = "nopass"}, true},
          ValidityCase{"nopassWithPassword", {.ssid = "Cafe", .password = "x", .securityType = "NOPASS"}, false},
          ValidityCase{"noType", {.ssid = "Home", .password = "12345678"}, false},
          ValidityCase{"eapLower", {"Corp", "pw", "eap", "alice", "peap", "mschapv2"}, true},
          ValidityCase{"eapTtls", {"Corp", "pw", "EAP", "alice", "TTLS", "MSCHAPV2"}, false},
          ValidityCase{"eapIdentity254", {"Corp", "pw", "EAP", std::string(254, 'a'), "PEAP", "MSCHAPV2"}, false},
          ValidityCase{"eapPassword129", {"Corp", std::string(129, 'p'), "EAP", "alice", "PEAP", "MSCHAPV2"}, false}})
        EXPECT_EQ(row.profile.isValidForAutomaticConnection(), row.valid) << row.name;
}

TEST(WifiPayload, ExactTextOfEachKindAndTheLanAddressPrefersWifiThenTheFirstOrdinaryInterface) {
    EXPECT_EQ(wifiPayload({.ssid = "Home;Net", .password = "a:b\\c,\"d", .securityType = "wpa"}),
              "WIFI:T:WPA;S:Home\\;Net;P:a\\:b\\\\c\\,\\\"d;;");
    EXPECT_EQ(wifiPayload({.ssid = "Cafe", .securityType = "nopass"}), "WIFI:T:nopass;S:Cafe;P:;;");
    EXPECT_EQ(wifiPayload({.ssid = "Lab", .password = "12345678"}), "WIFI:T:WPA;S:Lab;P:12345678;;");
    // Enterprise: sorted compact JSON, "\/" for a solidus, no payload for bytes that are not UTF-8.
    WirelessAdbWifiProfile corp{"公司/Net", "p\"w", "EAP", "dom\\alice", "peap", "mschapv2"};
    EXPECT_EQ(
        wifiPayload(corp),
        R"({"EAP":"peap","EAPID":"dom\\alice","P":"p\"w","PH2":"mschapv2","S":"公司\/Net","T":"EAP","TYPE":"WIFI"})");
    corp.ssid = "\xFF";
    EXPECT_EQ(wifiPayload(corp), std::nullopt);

    std::vector<LanInterfaceAddress> tunnelFirst = {
        {"tun0", "10.8.0.2"}, {"docker0", "172.17.0.1"}, {"enp3s0", "192.168.1.20"}, {"wlp2s0", "192.168.8.5"}};
    EXPECT_EQ(chooseLanIPv4Address(tunnelFirst, {"wlan9", "wlp2s0"}), tunnelFirst[3]);
    EXPECT_EQ(chooseLanIPv4Address(tunnelFirst, {}), tunnelFirst[2]);
    std::vector<LanInterfaceAddress> virtualOnly = {
        {"utun3", "10.8.0.2"}, {"br-1a2b", "172.18.0.1"}, {"tailscale0", "100.64.0.1"}, {"veth12", "172.17.0.5"}};
    EXPECT_EQ(chooseLanIPv4Address(virtualOnly, {}), std::nullopt);
}

TEST(StoredProfile, RoundTripsAndRejectsMissingOrMistypedMembers) {
    WirelessAdbWifiProfile corp{"公司", "p w", "EAP", "alice", "PEAP", "MSCHAPV2"};
    EXPECT_EQ(WirelessAdbWifiProfile::fromStoredJson(corp.toStoredJson()), corp);
    const std::string complete =
        R"("ssid":"a","password":"b","securityType":"WPA","enterpriseIdentity":"","eapMethod":"","phase2Method":"")";
    EXPECT_EQ(WirelessAdbWifiProfile::fromStoredJson("{" + complete + R"(,"extra":1})"),
              (WirelessAdbWifiProfile{.ssid = "a", .password = "b", .securityType = "WPA"}));
    // No defaults when reading: a missing member, or null, fails; so does a bare password.
    EXPECT_EQ(WirelessAdbWifiProfile::fromStoredJson("{" + complete.substr(complete.find(',') + 1) + "}"),
              std::nullopt);
    EXPECT_EQ(WirelessAdbWifiProfile::fromStoredJson("{" + complete.substr(0, complete.rfind(':') + 1) + "null}"),
              std::nullopt);
    EXPECT_EQ(WirelessAdbWifiProfile::fromStoredJson("12345678"), std::nullopt);
}

}  // namespace
}  // namespace orvan
