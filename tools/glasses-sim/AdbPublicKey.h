#pragma once

#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>

typedef struct evp_pkey_st EVP_PKEY;

namespace orvan::sim {

class KeyFormatError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// An adb user key as the host offers it: one line "<base64 of a 524-byte blob> <comment>".
// The blob holds the modulus size in words (64), n0inv, n and rr little-endian, and e.
class AdbPublicKey {
public:
    static constexpr std::size_t kBlobSize = 524;
    static constexpr std::size_t kModulusBytes = 256;
    static constexpr std::size_t kTokenSize = 20;

    // Parses an adbkey.pub line or the payload of AUTH(RSAPUBLICKEY) (trailing NULs and line
    // breaks are tolerated). Throws KeyFormatError with the reason.
    static AdbPublicKey parse(std::string_view line);
    // Builds the key from a public RSA key (tests sign with the private half).
    static AdbPublicKey fromRsaKey(EVP_PKEY* key, std::string comment);

    AdbPublicKey(AdbPublicKey&&) noexcept;
    AdbPublicKey& operator=(AdbPublicKey&&) noexcept;
    ~AdbPublicKey();

    // The base64 field: what identifies the key when it is trusted or remembered.
    const std::string& base64() const { return base64_; }
    const std::string& comment() const { return comment_; }
    // "<base64> <comment>" without line break, like adbkey.pub.
    std::string line() const;

    // RSASSA-PKCS1-v1_5 with a SHA-1 DigestInfo over the raw 20-byte token, which is what
    // adb's RSA_sign(NID_sha1, token, 20, ...) produces. False for any mismatch.
    bool verifyTokenSignature(std::string_view token, std::string_view signature) const;

private:
    AdbPublicKey(std::string base64, std::string comment, EVP_PKEY* key);

    std::string base64_;
    std::string comment_;
    EVP_PKEY* key_ = nullptr;
};

// Signs a token the way the adb host does; for tests and tools.
std::string signAdbToken(EVP_PKEY* privateKey, std::string_view token);

}  // namespace orvan::sim
