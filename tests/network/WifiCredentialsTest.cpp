#include <gtest/gtest.h>

#include "network/ScanWifiProfile.h"
#include "network/WifiProfilePersistence.h"
#include "network/WifiProfileUpdatedNotification.h"
#include "platform/Dispatch.h"
#include "support/FakeSecretStore.h"
#include "support/FakeWifiSystem.h"

namespace orvan {
namespace {

constexpr const char* kService = WirelessAdbWifiCredentialStore::kService;

const WirelessAdbWifiProfile kLab{.ssid = "Lab", .password = "lab-password", .securityType = "WPA"};
const WirelessAdbWifiProfile kCorp{"Lab", "corp-password", "EAP", "alice", "PEAP", "MSCHAPV2"};

struct Rig {
    std::shared_ptr<FakeSecretStore> secrets = std::make_shared<FakeSecretStore>();
    WirelessAdbWifiCredentialStore store{secrets};
    WirelessAdbWifiProfileCache cache;
    std::shared_ptr<FakeWifiSystem> wifi = std::make_shared<FakeWifiSystem>();
    std::optional<WirelessAdbWifiProfile> resolve() {
        return resolveScanWifiProfile(cache, store, ComputerWifiName(wifi));
    }
};

TEST(WirelessAdbWifiCredentialStore, AsksTheKeyringOncePerSsidAndKeepsSavesInMemory) {
    Rig rig;
    EXPECT_EQ(rig.store.profile("Absent"), std::nullopt);
    rig.secrets->failWith(secret_status::interactionNotAllowed);
    EXPECT_EQ(rig.store.profile("Locked"), std::nullopt);
    rig.secrets->failWith(secret_status::timedOut);
    EXPECT_THROW(rig.store.profile("Slow"), WirelessAdbWifiCredentialError);
    for (const char* ssid : {"Absent", "Locked", "Slow"}) rig.store.profile(ssid);
    EXPECT_EQ(rig.secrets->calls(), 3);

    rig.secrets->failWith(std::nullopt);
    rig.store.deletePassword("Absent");  // deleting nothing succeeds
    rig.store.save(kLab);
    EXPECT_EQ(rig.secrets->item(kService, "Lab")->label, "Orvan Mirror Wi-Fi：Lab");
    int calls = rig.secrets->calls();
    EXPECT_EQ(rig.store.profile("Lab"), kLab);
    EXPECT_EQ(rig.secrets->calls(), calls);
}

TEST(ResolveScanWifiProfile, MatchesTheNetworksSecurityAndFallsBackToTheKeyring) {
    Rig rig;
    rig.wifi->set("Lab", "NOPASS");
    EXPECT_EQ(rig.resolve(), (WirelessAdbWifiProfile{.ssid = "Lab", .securityType = "NOPASS"}));
    EXPECT_EQ(rig.secrets->calls(), 0);

    rig.wifi->set("Lab", "WPA");
    rig.cache.save(kCorp);  // an enterprise profile does not serve a personal network
    rig.secrets->put(kService, "Lab", kLab.toStoredJson());
    EXPECT_EQ(rig.resolve(), kLab);
    EXPECT_TRUE(rig.cache.isPersisted("Lab"));

    rig.wifi->set("Lab", "EAP");
    EXPECT_EQ(rig.resolve(), std::nullopt);  // asked once already: the page asks for the password

    rig.wifi->set("Other", std::nullopt);
    rig.secrets->failWith(secret_status::serviceUnavailable);
    EXPECT_EQ(rig.resolve(), std::nullopt);
    rig.cache.applyToHome(kCorp);  // the applied profile wins on any network
    EXPECT_EQ(rig.resolve(), kCorp);
}

struct PersistCase {
    const char* name;
    bool remember;
    std::string securityType;
    std::optional<int32_t> keyringFailure;
    std::string suffix;
    bool saved;
};

class Persist : public ::testing::TestWithParam<PersistCase> {};

TEST_P(Persist, SavesOrForgetsAndAFailureStillLeavesAProfileForTheRun) {
    Rig rig;
    auto profile = kLab;
    profile.securityType = GetParam().securityType;
    if (profile.securityType == "NOPASS") profile.password.clear();
    rig.secrets->put(kService, "Lab", "stale");
    rig.secrets->failWith(GetParam().keyringFailure);
    auto main = std::make_shared<ManualMainQueue>();
    Dispatch::setMain(main);
    int updates = 0;
    auto observer = WifiProfileUpdatedNotification::observe([&updates] { ++updates; });

    EXPECT_EQ(applyWifiProfileToHome(rig.store, rig.cache, profile, GetParam().remember),
              "已应用到扫码投屏首页。" + GetParam().suffix);
    EXPECT_EQ(rig.cache.appliedHomeProfile(), profile);
    EXPECT_EQ(rig.cache.isPersisted("Lab"), GetParam().saved);
    rig.secrets->failWith(std::nullopt);
    bool keptInKeyring = GetParam().saved || GetParam().keyringFailure;
    EXPECT_EQ(rig.secrets->item(kService, "Lab").has_value(), keptInKeyring);
    EXPECT_EQ(updates, 0) << "observers run on the main queue";
    EXPECT_TRUE(main->runUntil([&] { return updates == 1; }, Seconds(5)));
    WifiProfileUpdatedNotification::stopObserving(observer);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, Persist,
    ::testing::Values(
        PersistCase{"Remembered", true, "WPA", std::nullopt, "凭据已安全保存到系统密钥环。", true},
        PersistCase{"Forgotten", false, "WPA", std::nullopt, "凭据仅在本次运行中使用。", false},
        PersistCase{"OpenNetworkNeverStored", true, "NOPASS", std::nullopt, "凭据仅在本次运行中使用。", false},
        PersistCase{"LockedKeyring", true, "WPA", secret_status::interactionNotAllowed,
                    "系统密钥环操作失败（密钥环已锁定，且不允许用户交互）；凭据未保存。", false},
        PersistCase{"NoSecretService", false, "WPA", secret_status::serviceUnavailable,
                    "系统密钥环操作失败（没有可用的密钥环服务）；凭据未保存。", false},
        PersistCase{"UnknownCode", true, "WPA", -1, "系统密钥环操作失败（未知错误）；凭据未保存。", false}),
    [](const auto& row) { return std::string(row.param.name); });

}  // namespace
}  // namespace orvan
