#include <gtest/gtest.h>

#include <atomic>
#include <mutex>

#include "foundation/MirrorError.h"
#include "pairing/RecordingQrPage.h"
#include "shell/WirelessAdbQrController.h"

namespace orvan {
namespace {

// Counts hand-backs so a test can wait for every background step before it checks that only
// the newest one acted.
class CountingMainQueue final : public MainQueue {
public:
    void post(Task task) override {
        inner.post(std::move(task));
        ++posts;
    }
    void postAfter(Seconds delay, Task task) override { inner.postAfter(delay, std::move(task)); }
    ManualMainQueue inner;
    std::atomic<int> posts{0};
};

class QrControllerTest : public ::testing::Test {
protected:
    static constexpr const char* kPassword = "Kn0wn-Pa55word";

    std::shared_ptr<WirelessAdbQrController> make(std::optional<WirelessAdbWifiProfile> profile,
                                                  std::optional<LanInterfaceAddress> address = LanInterfaceAddress{
                                                      "test0", "127.0.0.1"}) {
        WirelessAdbQrHooks hooks;
        hooks.onLog = [this](const std::string& line) {
            std::lock_guard lock(mutex);
            logged.push_back(line);
        };
        hooks.onSessionChanged = [this](const std::string&, const std::string&) { ++sessionChanges; };
        provided = profile;
        hooks.wifiProfileProvider = [this] {
            std::lock_guard lock(mutex);
            return provided;
        };
        hooks.savedWifiNames = [this] { return savedNames; };
        hooks.savedWifiProfile = [](const std::string& ssid) {
            return std::optional(WirelessAdbWifiProfile{.ssid = ssid, .password = kPassword, .securityType = "WPA"});
        };
        hooks.onConfigureWifi = [this] { ++configureRequests; };
        hooks.wifiNameProvider = [this] { return computerWifi; };
        hooks.lanAddress = [address] { return address; };
        hooks.onStopMirroring = [this](const std::string& id, std::function<void(bool)> done) {
            stopRequests.emplace_back(id, std::move(done));
        };
        hooks.persistWifiProfile = [this](const WirelessAdbWifiProfile& saved, bool remember) {
            WifiPersistOutcome outcome;
            if (keyringFailure) outcome.failure = keyringFailure;
            outcome.saved = remember && !keyringFailure;
            std::lock_guard lock(mutex);
            persisted.push_back(saved);
            return outcome;
        };
        hooks.postWifiProfileUpdated = [this] { ++profileNotifications; };
        return std::make_shared<WirelessAdbQrController>(main, page, hooks, 0,
                                                         CallbackServerLimits{.bindAddress = "127.0.0.1"});
    }
    // Runs the main queue until `count` hand-backs were posted and ran.
    void settle(int count) {
        ASSERT_TRUE(main.inner.runUntil([&] { return main.posts == count; }, Seconds(20)));
        main.inner.runPending();
    }

    CountingMainQueue main;
    RecordingQrPage page;
    std::optional<std::string> computerWifi = " 办公室 \n";
    std::optional<WirelessAdbWifiProfile> provided;
    std::vector<std::string> savedNames;
    int configureRequests = 0;
    std::vector<std::pair<std::string, std::function<void(bool)>>> stopRequests;
    std::optional<std::string> keyringFailure;
    std::vector<WirelessAdbWifiProfile> persisted;
    int profileNotifications = 0;
    int sessionChanges = 0;
    std::mutex mutex;
    std::vector<std::string> logged;
};

TEST_F(QrControllerTest, QuickRefreshesMakeOneServerAndOneCodeAndNeverLogThePassword) {
    auto controller = make(WirelessAdbWifiProfile{.ssid = "办公室", .password = kPassword, .securityType = "WPA"});
    controller->refreshEnableQr();
    controller->refreshEnableQr();
    settle(2);
    EXPECT_EQ(sessionChanges, 2);
    EXPECT_EQ(page.images, 1);
    EXPECT_EQ(page.states.back(), "等待眼镜扫码...");
    EXPECT_TRUE(controller->activeCallbackUrl()->starts_with("http://127.0.0.1:"));

    // To the disable code and back: the enable code and session stay, the shown disable code is void.
    const std::string enableId = controller->sessionId();
    controller->toggleDisableQrMode();
    const std::string shownId = controller->disableSessionId();
    EXPECT_EQ(page.states.back(), "等待眼镜扫码关闭...");
    controller->toggleDisableQrMode();
    EXPECT_NE(controller->disableSessionId(), shownId);
    EXPECT_EQ(controller->sessionId(), enableId);
    EXPECT_EQ(page.states.back(), "等待眼镜扫码...");
    controller->toggleDisableQrMode();
    controller->stop();
    EXPECT_EQ(sessionChanges, 3);  // the code shown is void: its READYs' tasks stop
    EXPECT_THROW(controller->makeDisableQrImage(), MirrorError);

    std::lock_guard lock(mutex);
    EXPECT_EQ(logged.size(), 3u);  // one code, two disable codes
    for (const auto& line : logged) EXPECT_EQ(line.find(kPassword), std::string::npos) << line;
}

TEST_F(QrControllerTest, RunningMirrorsShapeEveryStatusAndTheDisableCodeHidesThem) {
    auto controller = make(WirelessAdbWifiProfile{.ssid = "办公室", .password = kPassword, .securityType = "WPA"});
    computerWifi = "家里";
    controller->refreshEnableQr();
    settle(1);
    EXPECT_EQ(page.statusDetail, "目标 WiFi“办公室”与电脑当前 WiFi“家里”不同，请确认两个网络可以互相访问。");
    EXPECT_EQ(page.statusColor, StatusColor::warning);

    controller->updateActiveMirrors({{"a", "眼镜A", ""}, {"b", "眼镜B", ""}});
    controller->showStatus({.text = "眼镜 10.0.0.9 拒绝 ADB 连接", .isError = true});
    settle(3);
    EXPECT_EQ(page.card, "status");
    EXPECT_EQ(page.states.back(), "投屏已启动");
    EXPECT_EQ(page.statusDetail, "新设备连接失败：眼镜 10.0.0.9 拒绝 ADB 连接");
    ASSERT_EQ(page.buttonTitles.size(), 2u);
    EXPECT_EQ(page.buttonTitles[0].title, "停止投屏（眼镜A）");
    EXPECT_EQ(page.buttonTitles[0].tooltip, "停止 眼镜A 的投屏，保留无线 ADB 连接");
    // A READY accepted beside them: a new pair is connecting. Only the phase says so.
    controller->showStatus({.text = "无线 ADB 已开启，正在连接...", .phase = ScanStatusPhase::connecting});
    settle(4);
    EXPECT_EQ(page.states.back(), "正在连接新设备");
    controller->showStatus({"正在连接"});
    settle(5);
    EXPECT_EQ(page.states.back(), "正在连接");

    // A stop that fails leaves the mirror running: its button works again.
    controller->stopMirrorFromStatus("a");
    EXPECT_FALSE(page.buttons["a"]);
    ASSERT_EQ(stopRequests.size(), 1u);
    stopRequests[0].second(false);
    EXPECT_TRUE(page.buttons["a"]);

    controller->toggleDisableQrMode();
    const size_t shown = page.states.size();
    controller->showStatus({"已连接，投屏启动中..."});
    controller->updateActiveMirrors({{"b", "眼镜B", ""}});
    settle(7);
    EXPECT_EQ(page.states.size(), shown);
    controller->toggleDisableQrMode();
    controller->updateActiveMirrors({});
    settle(8);
    EXPECT_EQ(page.states.back(), "投屏已停止");
}

TEST_F(QrControllerTest, InlinePasswordIsCheckedThenKeptEvenWhenTheKeyringRefuses) {
    auto controller = make(std::nullopt);
    controller->refreshEnableQr();
    settle(1);
    ASSERT_EQ(page.card, "password");
    EXPECT_EQ(page.prompt, "请填写当前 WiFi 办公室 的 WiFi 密码");

    struct Case {
        std::string password, prompt;
    };
    for (const Case& wrong : {Case{"", "密码不能为空，请填写当前 WiFi 办公室 的 WiFi 密码"},
                              Case{"1234567", "密码格式不正确，请填写 办公室 的 8-63 位 WiFi 密码"}}) {
        page.password = wrong.password;
        controller->saveInlineWifiPassword();
        EXPECT_EQ(page.prompt, wrong.prompt);
    }
    EXPECT_EQ(page.beeps, 2);

    keyringFailure = "系统密钥环不可用";
    page.password = "12345678";
    page.remember = true;
    controller->saveInlineWifiPassword();
    settle(2);
    EXPECT_EQ(profileNotifications, 1);  // the code is made all the same
    EXPECT_EQ(page.prompt, "密码处理失败：系统密钥环不可用");
    EXPECT_TRUE(page.password.empty());
    // The notification's refresh makes the code; that the password was not kept stays until the
    // user acts.
    provided = persisted.at(0);
    controller->wifiProfileUpdated();
    settle(3);
    EXPECT_EQ(page.states.back(), "未记住密码");
    EXPECT_EQ(page.statusDetail, "密码处理失败：系统密钥环不可用。本次运行仍使用该密码，下次启动需重新填写。");
    controller->refreshForNetworkChange();
    settle(4);
    EXPECT_EQ(page.states.back(), "未记住密码");
    controller->configureWifi();
    controller->toggleDisableQrMode();
    controller->toggleDisableQrMode();
    EXPECT_EQ(page.states.back(), "等待眼镜扫码...");
    EXPECT_EQ(configureRequests, 1);
    std::lock_guard lock(mutex);
    ASSERT_EQ(persisted.size(), 1u);
    EXPECT_EQ(persisted[0], (WirelessAdbWifiProfile{.ssid = "办公室", .password = "12345678", .securityType = "WPA"}));
    const std::string kept = "已填写当前 Wi-Fi 办公室 的密码，仅在本次运行中使用，正在重新生成扫码投屏二维码；未输出密码信息。";
    EXPECT_NE(std::find(logged.begin(), logged.end(), kept), logged.end());
}

// A computer on a cable (no Wi-Fi name, a LAN address) makes its code with a saved network.
TEST_F(QrControllerTest, WithoutWifiTheSavedNetworksOrTheSetupWindowMakeTheCode) {
    computerWifi.reset();
    auto controller = make(std::nullopt, LanInterfaceAddress{"eth0", "127.0.0.1"});
    controller->refreshEnableQr();
    settle(1);
    EXPECT_EQ(page.card, "failure");
    EXPECT_EQ(page.states.back(), "电脑未连接 Wi-Fi，也没有已保存的 WiFi 配置。请在“手动配置”中填写眼镜要连接的 WiFi。");

    savedNames = {"实验室", "Home"};
    controller->regenerateEnableQr();
    settle(2);
    EXPECT_EQ(page.card, "choice");
    EXPECT_EQ(page.prompt, "选择眼镜要连接的 WiFi");
    EXPECT_EQ(page.choices, savedNames);
    controller->chooseSavedWifi("实验室");
    settle(4);  // the keyring read, then the new session's reading
    EXPECT_EQ(page.card, "waiting");
    EXPECT_EQ(controller->configuredWifiName(), "实验室");
    EXPECT_TRUE(controller->activeCallbackUrl()->starts_with("http://127.0.0.1:"));
    {
        std::lock_guard lock(mutex);
        EXPECT_EQ(logged.back(), "电脑未连接 Wi-Fi：二维码使用 WiFi 实验室 和网卡 eth0 的地址 127.0.0.1。");
    }
    controller->refreshForNetworkChange();  // the choice holds while the computer has no Wi-Fi
    settle(5);
    EXPECT_EQ(controller->configuredWifiName(), "实验室");

    // Without any LAN address there is no code: a failure the user can act on.
    auto unplugged = make(std::nullopt, std::nullopt);
    unplugged->refreshEnableQr();
    EXPECT_EQ(page.card, "failure");
    EXPECT_EQ(page.states.back(), "未获取到局域网 IP");
}

}  // namespace
}  // namespace orvan
