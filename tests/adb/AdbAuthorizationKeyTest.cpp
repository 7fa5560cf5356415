#include <gtest/gtest.h>
#include <unistd.h>

#include <fstream>
#include <future>
#include <latch>

#include "adb/AdbAuthorizationKey.h"
#include "foundation/Text.h"
#include "support/ScopedEnvironment.h"
#include "support/TempDir.h"

namespace orvan {
namespace {

namespace fs = std::filesystem;

struct KeyCase {
    const char* name;
    std::string text;
    bool valid;
};

TEST(PublicKeyValidation, AppliesTheLengthAndBase64Rules) {
    const std::string k256 = std::string(340, 'A') + "AA==";  // decodes to 256 bytes
    const std::string k255 = std::string(340, 'A');           // decodes to 255 bytes
    for (const auto& key :
         {KeyCase{"withComment", "\n " + k256 + " alice@lab\n", true}, KeyCase{"bytes256", k256, true},
          KeyCase{"bytes255", k255, false}, KeyCase{"placeholder", "ssh-rsa", false},
          KeyCase{"notBase64", std::string(200, 'A') + "*" + std::string(143, 'A'), false},
          KeyCase{"tooLong", k256 + " " + std::string(4000, 'c'), false}, KeyCase{"blank", " \n", false}})
        EXPECT_EQ(validateAdbPublicKey(key.text).value_or("-"), key.valid ? text::trimmed(key.text) : "-") << key.name;
}

class AuthorizationKeyFolder : public ::testing::Test {
protected:
    void SetUp() override {
        if (::access("/usr/bin/adb", X_OK) != 0) GTEST_SKIP() << "adb is not installed";
        // adb writes LOGNAME@HOSTNAME after the key; fix both so the lines can be compared.
        environment.set("HOME", folder.path().string());
        environment.set("LOGNAME", "alice");
        environment.set("HOSTNAME", "lab");
    }
    testing::TempDir folder{"orvan-adbkey"};
    testing::ScopedEnvironment environment;
    AdbRunner runner{"/usr/bin/adb", 1, std::make_shared<LogSink>()};
    fs::path keys = folder / ".android";
};

// Two first calls at once each make a pair with adb keygen (both run before either is linked
// into place): they agree on the one that won, which stays. Later calls never replace it, even
// when the public half is unusable.
TEST_F(AuthorizationKeyFolder, MakesOnePairOnceAndNeverReplacesIt) {
    std::latch bothGenerating(2);
    runner.setCommandRunner([&](const ProcessSpec& spec, std::chrono::duration<double> timeout) {
        if (spec.arguments.front() == "keygen") bothGenerating.arrive_and_wait();
        return runFinite(spec, timeout);
    });
    AdbAuthorizationKey key(runner, keys);
    auto first = std::async(std::launch::async, [&] { return key.adbPublicKeyForTemporaryAuthorization(); });
    auto second = std::async(std::launch::async, [&] { return key.adbPublicKeyForTemporaryAuthorization(); });
    auto made = first.get();
    ASSERT_TRUE(made);
    EXPECT_EQ(made, second.get());
    EXPECT_EQ(*made, testing::readWholeFile(keys / "adbkey.pub"));
    EXPECT_EQ(AdbAuthorizationKey::derivePublicKey(keys / "adbkey"), made);  // the private half is the winner's too
    EXPECT_EQ(std::distance(fs::directory_iterator(keys), fs::directory_iterator()), 2);  // no leftovers

    std::string privateKey = testing::readWholeFile(keys / "adbkey");
    std::ofstream(keys / "adbkey.pub") << "placeholder";
    EXPECT_EQ(key.adbPublicKeyForTemporaryAuthorization(), made);  // derived from adbkey as keygen wrote it
    EXPECT_EQ(testing::readWholeFile(keys / "adbkey"), privateKey);
    std::ofstream(keys / "adbkey") << "garbage";  // unreadable: no key, and no new pair either
    EXPECT_EQ(key.adbPublicKeyForTemporaryAuthorization(), std::nullopt);
    EXPECT_EQ(testing::readWholeFile(keys / "adbkey"), "garbage");
}

}  // namespace
}  // namespace orvan
