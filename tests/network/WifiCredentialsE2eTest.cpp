#include <gtest/gtest.h>

#include <fstream>

#include "foundation/ActivityLog.h"
#include "network/ScanWifiProfile.h"
#include "network/WifiProfilePersistence.h"
#include "platform/Dispatch.h"
#include "platform/LibsecretSecretStore.h"
#include "platform/Paths.h"
#include "support/ScopedEnvironment.h"
#include "support/TempDir.h"

extern char** environ;

namespace orvan {
namespace {

namespace fs = std::filesystem;
constexpr const char* kService = WirelessAdbWifiCredentialStore::kService;

// Runs under tests/support/with-secret-service: a real GNOME Keyring on a bus of its own, and
// HOME and the XDG folders in a throw-away folder.
class WifiCredentialsE2e : public ::testing::Test {
protected:
    void SetUp() override {
        if (!std::getenv("ORVAN_TEST_KEYRING_PID")) GTEST_SKIP() << "needs tests/support/with-secret-service";
    }
    static WirelessAdbWifiCredentialStore freshStore() {
        return WirelessAdbWifiCredentialStore(std::make_shared<LibsecretSecretStore>());
    }
};

// How often the keyring is asked: WifiCredentialsTest.
TEST_F(WifiCredentialsE2e, ReadsProfilesAndBarePasswordsOfEarlierRuns) {
    const WirelessAdbWifiProfile corp{"Corp:5G", "p;a\\ss", "EAP", "alice", "PEAP", "MSCHAPV2"};
    freshStore().save(corp);
    LibsecretSecretStore older;  // items as earlier versions wrote them
    ASSERT_EQ(older.save(kService, "实验室", "Orvan Mirror Wi-Fi：实验室", "bare password"), secret_status::success);
    ASSERT_EQ(older.save(kService, "Bad", "Orvan Mirror Wi-Fi：Bad", "\xff\xfe"), secret_status::success);

    auto store = freshStore();
    EXPECT_EQ(store.profile("Corp:5G"), corp);
    EXPECT_EQ(store.profile("实验室"),
              (WirelessAdbWifiProfile{.ssid = "实验室", .password = "bare password", .securityType = "WPA"}));
    EXPECT_THROW(store.profile("Bad"), WirelessAdbWifiCredentialError);
    EXPECT_EQ(store.profile("None"), std::nullopt);
}

bool contains(const fs::path& file, const std::string& needle) {
    return testing::readWholeFile(file).find(needle) != std::string::npos;
}

TEST_F(WifiCredentialsE2e, AKnownPasswordReachesNoLogFileChildOrEnvironment) {
    const std::string password = "Known-Pw-7f3a9c";
    testing::TempDir tools;
    std::ofstream(tools / "nmcli") << "#!/bin/sh\n{ echo \"$0 $*\"; env; } >> '" << (tools / "children").string()
                                   << "'\necho '*:Lab:WPA2:(none):psk:wlan0'\n";
    fs::permissions(tools / "nmcli", fs::perms::owner_all);
    testing::ScopedEnvironment environment;
    environment.set("PATH", tools.path().string() + ":/usr/bin:/bin");
    auto main = std::make_shared<ManualMainQueue>();
    Dispatch::setMain(main);
    ActivityLog log(paths::appStateFolder());

    const WirelessAdbWifiProfile lab{.ssid = "Lab", .password = password, .securityType = "WPA"};
    auto store = freshStore();
    WirelessAdbWifiProfileCache cache;
    log.appendLog(applyWifiProfileToHome(store, cache, lab, true));
    auto nextRun = freshStore();
    WirelessAdbWifiProfileCache nextCache;
    auto resolved = resolveScanWifiProfile(nextCache, nextRun, ComputerWifiName());
    ASSERT_EQ(resolved, lab);
    ASSERT_NE(wifiPayload(*resolved)->find(password), std::string::npos);
    main->runPending();

    ASSERT_TRUE(fs::exists(tools / "children"));
    EXPECT_FALSE(contains(tools / "children", password));
    for (const auto& entry : fs::recursive_directory_iterator(paths::home())) {
        if (entry.is_regular_file()) {
            EXPECT_FALSE(contains(entry.path(), password)) << entry.path();
        }
    }
    for (char** variable = environ; *variable; ++variable) {
        EXPECT_EQ(std::string(*variable).find(password), std::string::npos);
    }
}

}  // namespace
}  // namespace orvan
