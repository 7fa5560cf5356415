#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "adb/AdbRunner.h"

namespace orvan {

// The computer's ADB public key, offered to the glasses so that they can trust this computer
// for the session. Comes from the user's own key pair in ~/.android, which it never replaces.
class AdbAuthorizationKey {
public:
    // `keyFolder` is the user's ".android" folder; tests pass a temporary one.
    AdbAuthorizationKey(const AdbRunner& runner, std::filesystem::path keyFolder);

    // The public key line, trimmed: "adbkey.pub" when valid; else derived from "adbkey"; else,
    // only when there is no "adbkey" at all, a new pair made with `adb keygen`. Nothing when no
    // valid key can be had. Blocks up to about five seconds (keygen); safe on many threads.
    std::optional<std::string> adbPublicKeyForTemporaryAuthorization() const;

    // The ".pub" line of a private key file ("adbkey", PEM), as `adb keygen` writes it: the
    // base64 of the Android RSA public-key structure, a blank, user@host. Debian's adb 29 has no
    // command that prints it, so it is derived here with OpenSSL.
    static std::optional<std::string> derivePublicKey(const std::filesystem::path& privateKeyFile);

private:
    std::optional<std::string> generateKeyPair() const;

    const AdbRunner& runner_;
    std::filesystem::path folder_;
};

// The trimmed text when it looks like an ADB public key: at most 4096 characters, first token
// standard base64 of at least 128 characters decoding to at least 256 bytes.
std::optional<std::string> validateAdbPublicKey(std::string_view text);

}  // namespace orvan
