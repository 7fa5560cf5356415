// The Wi-Fi setup window's rules against an in-memory keyring: what opening the window loads,
// what the form accepts, and that a keyring refusal never loses the profile.
#include <gtest/gtest.h>

#include "platform/Dispatch.h"
#include "support/FakeSecretStore.h"
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

    WifiRig(std::optional<std::string> ssid = std::nullopt, std::optional<std::string> security = std::nullopt)
        : name(std::move(ssid)), code(std::move(security)) {
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

TEST(WifiSetupController, OpeningLoadsOnlyAProfileOfTheComputersNetworkAndType) {
    struct Case {
        std::optional<std::string> name, code;
        int index;
        std::string password, message;
    };
    for (const auto& c : std::vector<Case>{
             {std::nullopt, "WPA", 0, "", "未读取到电脑当前 WiFi 名称，请确认电脑已连接 WiFi 或手动输入。"},
             {"Corp", "EAP", 1, "", "当前 WiFi Corp 为企业认证网络，请填写企业账号和密码。"},
             {"Lab", "EAP", 1, "", "当前 WiFi Lab 为企业认证网络，请填写企业账号和密码。"},  // stored one is WPA
             {" Lab ", std::nullopt, 0, "lab-password", "当前 WiFi：Lab。已载入保存的配置。"}}) {
        WifiRig rig(c.name, c.code);
        rig.secrets->put(WirelessAdbWifiCredentialStore::kService, "Lab", kLab.toStoredJson());
        rig.controller->refreshCurrentWifiFields();
        const auto& form = rig.settled();
        EXPECT_EQ(form.securityIndex, c.index) << c.message;
        EXPECT_EQ(form.password, c.password) << c.message;
        EXPECT_EQ(form.rememberPassword, !c.password.empty()) << c.message;
        EXPECT_EQ(form.message, c.message);
    }
}

TEST(WifiSetupController, TheFormAcceptsOnlyWhatTheGlassesCanJoin) {
    const std::string psk(64, 'a'), rule = "WPA/WPA2 密码需为 8-63 位，或 64 位十六进制 PSK。";
    struct Case {
        std::string ssid;
        int index;
        std::string identity, password;
        std::string expected;  // "ssid|password|type|identity", or the message
    };
    for (const auto& c : std::vector<Case>{
             {"  ", 0, "", "12345678", "请先填写 WiFi 名称。"},
             {"Lab", 0, "", "1234567", rule},
             {" Lab ", 0, "", psk, "Lab|" + psk + "|WPA|"},
             {"Lab", 0, "", " 密码 with spaces ", "Lab| 密码 with spaces |WPA|"},
             {"十一个汉字的网络名称啊", 0, "", "12345678", "WiFi 名称不能超过 32 字节。"},
             {"Corp", 1, "", "secret", "请填写企业账号和密码；当前仅支持 PEAP + MSCHAPV2。"},
             {"Corp", 1, " alice ", "secret", "Corp|secret|EAP|alice"},
             {"Cafe", 2, "", "typed before", "Cafe||NOPASS|"}}) {
        WifiRig rig;
        rig.controller->ssidChanged(c.ssid);
        rig.controller->securityTypeChanged(c.index);
        rig.settled();
        rig.controller->identityChanged(c.identity);
        rig.controller->passwordChanged(c.password);
        auto p = rig.controller->validatedProfile();
        EXPECT_EQ(p ? p->ssid + "|" + p->password + "|" + p->securityType + "|" + p->enterpriseIdentity
                    : rig.controller->form().message,
                  c.expected);
    }
}

TEST(WifiSetupController, AKeyringRefusalStillAppliesAndShowsTheProfile) {
    WifiRig rig("Lab", "WPA");
    rig.controller->refreshCurrentWifiFields();
    rig.settled();
    rig.controller->passwordChanged("lab-password");
    rig.controller->rememberChanged(true);
    rig.secrets->failWith(secret_status::failed);
    rig.controller->applyWifiProfileToHome();
    const std::string refused = "系统密钥环操作失败（密钥环服务返回了错误）；凭据未保存。";
    EXPECT_EQ(rig.settled().message, "已应用到扫码投屏首页。" + refused);
    EXPECT_EQ(rig.cache.appliedHomeProfile(), kLab);  // what else a refusal keeps: the Persist table

    rig.name = "Home";  // the computer moved on: the note says so, the code is still made
    EXPECT_TRUE(rig.controller->generateWifiQrCode());
    EXPECT_TRUE(rig.controller->form().qrCode.has_value());
    EXPECT_EQ(rig.settled().message, "联网二维码已生成。" + refused +
                                         " 注意：目标 WiFi Lab 与电脑当前 WiFi Home 不同，请确认两者网络互通。");
    EXPECT_EQ(rig.controller->form().tone, WifiSetupTone::warning);
}

TEST(WifiSetupController, AnotherNetworkNeverKeepsTheLoadedPassword) {
    WifiRig rig("Lab", "WPA");
    rig.secrets->put(WirelessAdbWifiCredentialStore::kService, "Lab", kLab.toStoredJson());
    rig.controller->refreshCurrentWifiFields();
    ASSERT_EQ(rig.settled().password, "lab-password");
    rig.controller->ssidChanged("Cafe");
    EXPECT_EQ(rig.controller->form().password, "");
    EXPECT_FALSE(rig.controller->form().rememberPassword);
    EXPECT_EQ(rig.settled().message, "WiFi 名称已修改。 目标 WiFi Cafe 与电脑当前 WiFi Lab 不同。");

    // Opened again: the detecting state, not the last opening; what the user types meanwhile stays.
    rig.controller->refreshCurrentWifiFields();
    EXPECT_EQ(rig.controller->form().ssid, "");
    EXPECT_EQ(rig.controller->form().message, "正在读取电脑当前 WiFi...");
    rig.controller->ssidChanged("Typed");
    EXPECT_EQ(rig.settled().ssid, "Typed");
}

}  // namespace
}  // namespace orvan
