#include <gtest/gtest.h>
#include <unistd.h>

#include <fstream>
#include <future>
#include <sstream>

#include "adb/AdbAuthorizationKey.h"
#include "foundation/Text.h"
#include "support/ScopedEnvironment.h"
#include "support/TempDir.h"

namespace orvan {
namespace {

namespace fs = std::filesystem;

std::string slurp(const fs::path& path) {
    std::ifstream file(path, std::ios::binary);
    std::ostringstream bytes;
    bytes << file.rdbuf();
    return bytes.str();
}

struct KeyCase {
    const char* name;
    std::string text;
    bool valid;
};

class PublicKeyValidation : public ::testing::TestWithParam<KeyCase> {};

TEST_P(PublicKeyValidation, AppliesTheLengthAndBase64Rules) {
    EXPECT_EQ(validateAdbPublicKey(GetParam().text).value_or("-"),
              GetParam().valid ? text::trimmed(GetParam().text) : "-");
}

const std::string k256 = std::string(340, 'A') + "AA==";  // decodes to 256 bytes
const std::string k255 = std::string(340, 'A');           // decodes to 255 bytes

INSTANTIATE_TEST_SUITE_P(
    Cases, PublicKeyValidation,
    ::testing::Values(KeyCase{"withComment", "\n " + k256 + " alice@lab\n", true}, KeyCase{"bytes256", k256, true},
                      KeyCase{"bytes255", k255, false}, KeyCase{"placeholder", "ssh-rsa", false},
                      KeyCase{"notBase64", std::string(200, 'A') + "*" + std::string(143, 'A'), false},
                      KeyCase{"tooLong", k256 + " " + std::string(4000, 'c'), false}, KeyCase{"blank", " \n", false}),
    [](const auto& param) { return std::string(param.param.name); });

class AuthorizationKeyFolder : public ::testing::Test {
protected:
    void SetUp() override {
        if (::access("/usr/bin/adb", X_OK) != 0) GTEST_SKIP() << "adb is not installed";
        // adb writes LOGNAME@HOSTNAME after the key; fix both so the lines can be compared.
        environment.set("HOME", folder.path().string());
        environment.set("LOGNAME", "alice");
        environment.set("HOSTNAME", "lab");
    }
    void keygen(const fs::path& file) {
        fs::create_directories(file.parent_path());
        ASSERT_EQ(
            runner
                .runAdb({"keygen", file.string()},
                        {.timeout = std::chrono::seconds(20), .check = false, .serial = {}, .log = false, .scope = {}})
                .status,
            0);
    }

    testing::TempDir folder{"orvan-adbkey"};
    testing::ScopedEnvironment environment;
    AdbRunner runner{"/usr/bin/adb", 1, std::make_shared<LogSink>()};
    fs::path keys = folder / ".android";
};

TEST_F(AuthorizationKeyFolder, NeverReplacesAnExistingPrivateKey) {
    keygen(keys / "adbkey");
    std::string privateKey = slurp(keys / "adbkey");
    std::string publicKey = slurp(keys / "adbkey.pub");
    std::ofstream(keys / "adbkey.pub") << "placeholder";
    EXPECT_EQ(AdbAuthorizationKey(runner, keys).adbPublicKeyForTemporaryAuthorization(), publicKey);
    EXPECT_EQ(slurp(keys / "adbkey"), privateKey);
    // A private key that cannot be read gives no key, never a new pair.
    std::ofstream(keys / "adbkey") << "garbage";
    EXPECT_EQ(AdbAuthorizationKey(runner, keys).adbPublicKeyForTemporaryAuthorization(), std::nullopt);
    EXPECT_EQ(slurp(keys / "adbkey"), "garbage");
}

TEST_F(AuthorizationKeyFolder, ConcurrentFirstCallsAgreeOnOneNewPair) {
    AdbAuthorizationKey key(runner, keys);
    auto first = std::async(std::launch::async, [&] { return key.adbPublicKeyForTemporaryAuthorization(); });
    auto second = std::async(std::launch::async, [&] { return key.adbPublicKeyForTemporaryAuthorization(); });
    auto a = first.get(), b = second.get();
    ASSERT_TRUE(a);
    EXPECT_EQ(a, b);
    EXPECT_EQ(*a, slurp(keys / "adbkey.pub"));
    EXPECT_EQ(AdbAuthorizationKey::derivePublicKey(keys / "adbkey"), *a);
    EXPECT_EQ(std::distance(fs::directory_iterator(keys), fs::directory_iterator()), 2);  // no leftovers
}

}  // namespace
}  // namespace orvan
