#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <openssl/rsa.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <memory>

#include "glasses-sim/AdbPublicKey.h"
#include "support/CommandRun.h"
#include "support/TempDir.h"

namespace orvan::sim {
namespace {

struct KeyFree {
    void operator()(EVP_PKEY* key) const { EVP_PKEY_free(key); }
};
using Key = std::unique_ptr<EVP_PKEY, KeyFree>;

Key generateKey(int bits = 2048) {
    return Key(EVP_RSA_gen(static_cast<unsigned>(bits)));
}

const std::string kToken = "0123456789abcdefghij";

class SimAuth : public ::testing::Test {
protected:
    static void SetUpTestSuite() { key_ = generateKey().release(); }
    static void TearDownTestSuite() { EVP_PKEY_free(key_); }
    static EVP_PKEY* key_;
};
EVP_PKEY* SimAuth::key_ = nullptr;

TEST_F(SimAuth, SignatureOverRawTokenVerifies) {
    const AdbPublicKey publicKey = AdbPublicKey::fromRsaKey(key_, "tester@host");
    const std::string signature = signAdbToken(key_, kToken);
    ASSERT_EQ(signature.size(), 256u);
    EXPECT_TRUE(publicKey.verifyTokenSignature(kToken, signature));
}

TEST_F(SimAuth, WrongTokenOrDamagedSignatureIsRejected) {
    const AdbPublicKey publicKey = AdbPublicKey::fromRsaKey(key_, "");
    std::string signature = signAdbToken(key_, kToken);
    EXPECT_FALSE(publicKey.verifyTokenSignature("0123456789abcdefghiX", signature));
    EXPECT_FALSE(publicKey.verifyTokenSignature(kToken, signature.substr(0, 255)));  // truncated
    EXPECT_FALSE(publicKey.verifyTokenSignature(kToken.substr(0, 16), signature));   // token must be 20 bytes
    signature[100] ^= 0x01;
    EXPECT_FALSE(publicKey.verifyTokenSignature(kToken, signature));
}

TEST_F(SimAuth, SignatureOfAnotherKeyIsRejected) {
    const Key other = generateKey();
    const AdbPublicKey publicKey = AdbPublicKey::fromRsaKey(key_, "");
    EXPECT_FALSE(publicKey.verifyTokenSignature(kToken, signAdbToken(other.get(), kToken)));
}

TEST_F(SimAuth, EncodedKeyParsesBackWithCommentAndLayout) {
    const AdbPublicKey encoded = AdbPublicKey::fromRsaKey(key_, "user@machine");
    // The payload of AUTH(RSAPUBLICKEY) carries a trailing NUL; adbkey.pub has none.
    const AdbPublicKey parsed = AdbPublicKey::parse(encoded.line() + std::string(1, '\0'));
    EXPECT_EQ(parsed.base64(), encoded.base64());
    EXPECT_EQ(parsed.comment(), "user@machine");
    EXPECT_EQ(parsed.base64().size(), 700u);  // base64 of 524 bytes
    EXPECT_TRUE(parsed.verifyTokenSignature(kToken, signAdbToken(key_, kToken)));
}

TEST_F(SimAuth, MalformedKeysAreRejectedWithAReason) {
    const std::string good = AdbPublicKey::fromRsaKey(key_, "").base64();
    EXPECT_THROW(AdbPublicKey::parse(""), KeyFormatError);
    EXPECT_THROW(AdbPublicKey::parse("not base64!!"), KeyFormatError);
    // A blob of the wrong length: drop one 4-character group (3 bytes).
    EXPECT_THROW(AdbPublicKey::parse(good.substr(4)), KeyFormatError);
    // A word count other than 64 (first byte of the blob is 0x40 = 64).
    unsigned char blob[524];
    ASSERT_EQ(EVP_DecodeBlock(blob, reinterpret_cast<const unsigned char*>(good.data()), static_cast<int>(good.size())),
              525);
    blob[0] = 32;
    char text[704];
    EVP_EncodeBlock(reinterpret_cast<unsigned char*>(text), blob, 524);
    try {
        AdbPublicKey::parse(text);
        FAIL() << "a 32-word modulus was accepted";
    } catch (const KeyFormatError& error) {
        EXPECT_NE(std::string(error.what()).find("64"), std::string::npos);
    }
}

TEST_F(SimAuth, OnlyTwoThousandFortyEightBitKeysCanBeEncoded) {
    const Key small = generateKey(1024);
    EXPECT_THROW(AdbPublicKey::fromRsaKey(small.get(), ""), KeyFormatError);
}

TEST_F(SimAuth, RealAdbKeyPubLineParses) {
    if (::access("/usr/bin/adb", X_OK) != 0) GTEST_SKIP() << "adb is not installed";
    testing::TempDir dir;
    const auto keyPath = dir.path() / "adbkey";
    const auto result = testing::runCommand({"/usr/bin/adb", "keygen", keyPath.string()}, std::chrono::seconds(20));
    ASSERT_EQ(result.exitCode, 0) << result.err;
    std::ifstream in(keyPath.string() + ".pub");
    std::string line;
    std::getline(in, line);
    const AdbPublicKey key = AdbPublicKey::parse(line);
    EXPECT_FALSE(key.comment().empty());
    EXPECT_EQ(key.line(), line);
}

}  // namespace
}  // namespace orvan::sim
