#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace orvan {

// One Wi-Fi network the glasses are asked to join. Build it with designated initialisers; every
// field defaults to empty (the initialisers keep -Wmissing-field-initializers quiet). The type trims nothing.
struct WirelessAdbWifiProfile {
    std::string ssid{};
    std::string password{};      // passphrase, 64-digit hex PSK or enterprise password; empty when open
    std::string securityType{};  // "WPA", "EAP" or "NOPASS", compared case-insensitively
    std::string enterpriseIdentity{};
    std::string eapMethod{};     // "PEAP" for enterprise networks
    std::string phase2Method{};  // "MSCHAPV2" for enterprise networks

    bool operator==(const WirelessAdbWifiProfile&) const = default;

    // Whether the glasses can join with this profile without asking: SSID 1-32 UTF-8 bytes, and
    // the password rules of the security type (lengths in user-perceived characters).
    bool isValidForAutomaticConnection() const;

    // The stored form: one JSON object with exactly the six string members.
    std::string toStoredJson() const;
    // Reads the stored form; nothing when a member is missing or not a string (no defaults),
    // or when the text is not a JSON object. Extra members are ignored.
    static std::optional<WirelessAdbWifiProfile> fromStoredJson(std::string_view text);
};

// Extended grapheme clusters in UTF-8 text (invalid sequences count one each).
size_t userPerceivedCharacterCount(std::string_view utf8);

// The text of the Wi-Fi-only QR code: the standard "WIFI:" form for personal and open networks,
// compact JSON for enterprise ones. Nothing when the JSON writer fails (invalid UTF-8).
std::optional<std::string> wifiPayload(const WirelessAdbWifiProfile& profile);

// A backslash before each of \ ; , : " and nothing else changed.
std::string escapeWifiValue(std::string_view value);

}  // namespace orvan
