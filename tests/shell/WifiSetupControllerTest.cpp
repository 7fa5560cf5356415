// The Wi-Fi setup window's rules against an in-memory keyring: what opening the window loads,
// what the form accepts, and that a keyring refusal never loses the profile.
#include <gtest/gtest.h>

#include "network/WifiProfileUpdatedNotification.h"
#include "platform/Dispatch.h"
#include "platform/FakeSecretStore.h"
#include "shell/WifiSetupController.h"

namespace orvan {
namespace {

const WirelessAdbWifiProfile kLab{.ssid = "Lab", .password = "lab-password", .securityType = "WPA"};

struct WifiRig : WifiSetupView {
    std::shared_ptr<ManualMainQueue> queue = std::make_shared<ManualMainQueue>();
    std::shared_ptr<FakeSecretStore> secrets = std::make_shared<FakeSecretStore>();
    WirelessAdbWifiCredentialStore store{secrets};
    WirelessAdbWifiProfileCache cache;
    std::optional<std::string> name, code;  // the computer's Wi-Fi; set only while nothing runs
    std::shared_ptr<WifiSetupController> controller;

    WifiRig() {
        Dispatch::setMain(queue);
        controller = std::make_shared<WifiSetupController>(
            WifiSetupController::Sources{[this] { return name; }, [this] { return code; }, &store, &cache}, *this);
    }
    void render(const WifiSetupForm&) override {}
    const WifiSetupForm& settled() {
        EXPECT_TRUE(queue->runUntil([&] { return !controller->isWaiting(); }, Seconds(20)));
        return controller->form();
    }
};

struct OpenCase {
    std::optional<std::string> name, code;
    bool stored;  // the keyring holds kLab
    int index;
    std::string password;
    std::string message;
};
class WifiSetupOpening : public ::testing::TestWithParam<OpenCase> {};

TEST_P(WifiSetupOpening, LoadsOnlyAProfileOfTheComputersNetworkAndType) {
    const auto& c = GetParam();
    WifiRig rig;
    rig.name = c.name;
    rig.code = c.code;
    if (c.stored) rig.secrets->put(WirelessAdbWifiCredentialStore::kService, "Lab", kLab.toStoredJson());
    rig.controller->refreshCurrentWifiFields();
    const auto& form = rig.settled();
    EXPECT_EQ(form.securityIndex, c.index);
    EXPECT_EQ(form.identityRowVisible(), c.index == 1);
    EXPECT_EQ(form.passwordLabel(), c.index == 1 ? "* 企业密码" : "* WiFi 密码");
    EXPECT_EQ(form.password, c.password);
    EXPECT_EQ(form.rememberPassword, !c.password.empty());
    EXPECT_EQ(form.message, c.message);
}

INSTANTIATE_TEST_SUITE_P(
    Networks, WifiSetupOpening,
    ::testing::Values(OpenCase{std::nullopt, "WPA", true, 0, "", "未读取到电脑当前 WiFi 名称，请确认电脑已连接 WiFi 或手动输入。"},
                      OpenCase{"Corp", "EAP", false, 1, "", "当前 WiFi Corp 为企业认证网络，请填写企业账号和密码。"},
                      OpenCase{"Lab", "EAP", true, 1, "", "当前 WiFi Lab 为企业认证网络，请填写企业账号和密码。"},
                      OpenCase{" Lab ", std::nullopt, true, 0, "lab-password", "当前 WiFi：Lab。已载入保存的配置。"}));

struct FormCase {
    std::string ssid;
    int index;
    std::string identity, password;
    std::string expected;  // "ssid|password|type|identity", or the message
};
class WifiSetupFields : public ::testing::TestWithParam<FormCase> {};

TEST_P(WifiSetupFields, AcceptsOnlyWhatTheGlassesCanJoin) {
    const auto& c = GetParam();
    WifiRig rig;
    rig.controller->ssidChanged(c.ssid);
    rig.controller->securityTypeChanged(c.index);
    rig.settled();
    rig.controller->identityChanged(c.identity);
    rig.controller->passwordChanged(c.password);
    auto profile = rig.controller->validatedProfile();
    EXPECT_EQ(profile ? profile->ssid + "|" + profile->password + "|" + profile->securityType + "|" +
                            profile->enterpriseIdentity
                      : rig.controller->form().message,
              c.expected);
}

const std::string kPsk(64, 'a');
const char* kPasswordRule = "WPA/WPA2 密码需为 8-63 位，或 64 位十六进制 PSK。";
INSTANTIATE_TEST_SUITE_P(
    Fields, WifiSetupFields,
    ::testing::Values(FormCase{"  ", 0, "", "12345678", "请先填写 WiFi 名称。"},
                      FormCase{"Lab", 0, "", "1234567", kPasswordRule},
                      FormCase{"Lab", 0, "", std::string(64, 'x'), kPasswordRule},
                      FormCase{"Lab", 0, "", kPsk + "a", kPasswordRule},
                      FormCase{" Lab ", 0, "", kPsk, "Lab|" + kPsk + "|WPA|"},
                      FormCase{"Lab", 0, "", " 密码 with spaces ", "Lab| 密码 with spaces |WPA|"},
                      FormCase{"十一个汉字的网络名称啊", 0, "", "12345678", "WiFi 名称不能超过 32 字节。"},
                      FormCase{"Corp", 1, "", "secret", "请填写企业账号和密码；当前仅支持 PEAP + MSCHAPV2。"},
                      FormCase{"Corp", 1, " alice ", "secret", "Corp|secret|EAP|alice"},
                      FormCase{"Cafe", 2, "", "typed before", "Cafe||NOPASS|"}));

TEST(WifiSetupController, AKeyringRefusalStillAppliesAndShowsTheProfile) {
    WifiRig rig;
    rig.name = "Lab";
    rig.code = "WPA";
    int posted = 0;
    auto observer = WifiProfileUpdatedNotification::observe([&] { ++posted; });
    rig.controller->refreshCurrentWifiFields();
    rig.settled();
    rig.controller->passwordChanged("lab-password");
    rig.controller->rememberChanged(true);
    rig.secrets->failWith(secret_status::failed);
    rig.controller->applyWifiProfileToHome();
    EXPECT_EQ(rig.settled().message, "已应用到扫码投屏首页。系统密钥环操作失败（密钥环服务返回了错误）；凭据未保存。");
    EXPECT_EQ(rig.cache.appliedHomeProfile(), kLab);
    EXPECT_FALSE(rig.cache.isPersisted("Lab"));
    EXPECT_TRUE(rig.queue->runUntil([&] { return posted == 1; }, Seconds(20)));
    WifiProfileUpdatedNotification::stopObserving(observer);

    rig.name = "Home";  // the computer moved on: the note says so, the code is still made
    EXPECT_TRUE(rig.controller->generateWifiQrCode());
    EXPECT_TRUE(rig.controller->form().qrCode.has_value());
    EXPECT_EQ(rig.settled().message, "联网二维码已生成。系统密钥环操作失败（密钥环服务返回了错误）；凭据未保存。 注意：目标 WiFi Lab "
                                     "与电脑当前 WiFi Home 不同，请确认两者网络互通。");
    EXPECT_EQ(rig.settled().tone, WifiSetupTone::warning);
}

TEST(WifiSetupController, AnotherNetworkNeverKeepsTheLoadedPasswordAndAnOpenOneIsForgotten) {
    WifiRig rig;
    rig.name = "Lab";
    rig.code = "WPA";
    rig.secrets->put(WirelessAdbWifiCredentialStore::kService, "Lab", kLab.toStoredJson());
    rig.secrets->put(WirelessAdbWifiCredentialStore::kService, "Cafe", "old password");
    rig.controller->refreshCurrentWifiFields();
    ASSERT_EQ(rig.settled().password, "lab-password");
    rig.controller->ssidChanged("Cafe");
    EXPECT_EQ(rig.controller->form().password, "");
    EXPECT_FALSE(rig.controller->form().rememberPassword);
    EXPECT_EQ(rig.settled().message, "WiFi 名称已修改。 目标 WiFi Cafe 与电脑当前 WiFi Lab 不同。");

    rig.controller->securityTypeChanged(2);
    rig.controller->rememberChanged(true);
    ASSERT_TRUE(rig.controller->generateWifiQrCode());
    EXPECT_TRUE(rig.settled().message.starts_with("联网二维码已生成。凭据仅在本次运行中使用。 注意："));
    EXPECT_FALSE(rig.secrets->item(WirelessAdbWifiCredentialStore::kService, "Cafe"));
}

}  // namespace
}  // namespace orvan
