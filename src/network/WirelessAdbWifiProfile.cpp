#include "network/WirelessAdbWifiProfile.h"

#include <unicode/ubrk.h>
#include <unicode/ustring.h>

#include <algorithm>
#include <memory>
#include <nlohmann/json.hpp>
#include <vector>

#include "foundation/Text.h"
#include "network/CompactJson.h"

namespace orvan {
namespace {

bool isHexDigits(std::string_view text) {
    return std::all_of(text.begin(), text.end(), [](unsigned char c) {
        return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
    });
}

bool isValidPersonalPassword(const std::string& password) {
    size_t characters = userPerceivedCharacterCount(password);
    if (characters >= 8 && characters <= 63) return true;
    return password.size() == 64 && isHexDigits(password);
}

bool isValidEnterprise(const WirelessAdbWifiProfile& profile) {
    size_t identityBytes = profile.enterpriseIdentity.size();
    return identityBytes >= 1 && identityBytes <= 253 && !profile.password.empty() &&
           userPerceivedCharacterCount(profile.password) <= 128 && text::uppercased(profile.eapMethod) == "PEAP" &&
           text::uppercased(profile.phase2Method) == "MSCHAPV2";
}

constexpr const char* kMembers[] = {"ssid",      "password",    "securityType", "enterpriseIdentity",
                                    "eapMethod", "phase2Method"};

}  // namespace

size_t userPerceivedCharacterCount(std::string_view utf8) {
    if (utf8.empty()) return 0;
    std::vector<UChar> utf16(utf8.size() + 1);
    int32_t length = 0;
    UErrorCode status = U_ZERO_ERROR;
    // U+FFFD for each invalid sequence, so broken bytes still count instead of failing the count.
    u_strFromUTF8WithSub(utf16.data(), static_cast<int32_t>(utf16.size()), &length, utf8.data(),
                         static_cast<int32_t>(utf8.size()), 0xFFFD, nullptr, &status);
    if (U_FAILURE(status)) return utf8.size();
    std::unique_ptr<UBreakIterator, decltype(&ubrk_close)> breaks(
        ubrk_open(UBRK_CHARACTER, "", utf16.data(), length, &status), &ubrk_close);
    if (U_FAILURE(status) || !breaks) return utf8.size();
    size_t count = 0;
    for (int32_t at = ubrk_next(breaks.get()); at != UBRK_DONE; at = ubrk_next(breaks.get())) ++count;
    return count;
}

bool WirelessAdbWifiProfile::isValidForAutomaticConnection() const {
    if (ssid.empty() || ssid.size() > 32) return false;
    std::string type = text::uppercased(securityType);
    if (type == "NOPASS") return password.empty();
    if (type == "WPA") return isValidPersonalPassword(password);
    if (type == "EAP") return isValidEnterprise(*this);
    return false;
}

std::string WirelessAdbWifiProfile::toStoredJson() const {
    nlohmann::json object = {{"ssid", ssid},
                             {"password", password},
                             {"securityType", securityType},
                             {"enterpriseIdentity", enterpriseIdentity},
                             {"eapMethod", eapMethod},
                             {"phase2Method", phase2Method}};
    // Replacement characters rather than an exception for bytes that are not UTF-8.
    return object.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

std::optional<WirelessAdbWifiProfile> WirelessAdbWifiProfile::fromStoredJson(std::string_view text) {
    nlohmann::json object = nlohmann::json::parse(text, nullptr, false);
    if (!object.is_object()) return std::nullopt;
    std::string values[std::size(kMembers)];
    for (size_t i = 0; i < std::size(kMembers); ++i) {
        auto member = object.find(kMembers[i]);
        if (member == object.end() || !member->is_string()) return std::nullopt;
        values[i] = member->get<std::string>();
    }
    return WirelessAdbWifiProfile{values[0], values[1], values[2], values[3], values[4], values[5]};
}

std::string escapeWifiValue(std::string_view value) {
    std::string escaped;
    escaped.reserve(value.size());
    for (char c : value) {
        if (c == '\\' || c == ';' || c == ',' || c == ':' || c == '"') escaped += '\\';
        escaped += c;
    }
    return escaped;
}

std::optional<std::string> wifiPayload(const WirelessAdbWifiProfile& profile) {
    std::string type = text::uppercased(profile.securityType);
    if (type == "EAP") {
        return compactJsonWithEscapedSlashes({{"EAP", profile.eapMethod},
                                              {"EAPID", profile.enterpriseIdentity},
                                              {"P", profile.password},
                                              {"PH2", profile.phase2Method},
                                              {"S", profile.ssid},
                                              {"T", "EAP"},
                                              {"TYPE", "WIFI"}});
    }
    if (type == "NOPASS") return "WIFI:T:nopass;S:" + escapeWifiValue(profile.ssid) + ";P:;;";
    return "WIFI:T:WPA;S:" + escapeWifiValue(profile.ssid) + ";P:" + escapeWifiValue(profile.password) + ";;";
}

}  // namespace orvan
