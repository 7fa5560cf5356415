#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <regex>

#include "foundation/MirrorError.h"
#include "pairing/SessionId.h"
#include "pairing/WirelessAdbPayload.h"
#include "pairing/WirelessAdbQrController.h"

namespace orvan {
namespace {

const std::string kUrl = "http://192.168.1.20:18080/orvan/wireless-adb/callback";

TEST(WirelessAdbPayload, ExactTextOfEachKind) {
    WirelessAdbWifiProfile home{.ssid = "家/Home", .password = "pa\"ss", .securityType = "WPA"};
    EXPECT_EQ(
        makeWirelessAdbPayload(kEnableWirelessAdbPayload, "S", kUrl, 5555, home),
        R"({"PERSIST":false,"PORT":5555,"SID":"S","T":"ENABLE_WIRELESS_ADB",)"
        R"("U":"http:\/\/192.168.1.20:18080\/orvan\/wireless-adb\/callback","WIFI":{"P":"pa\"ss","S":"家\/Home","T":"WPA"}})");
    WirelessAdbWifiProfile corp{"Corp", "pw", "eap", "", "PEAP", "MSCHAPV2"};
    EXPECT_EQ(makeWirelessAdbPayload(kEnableWirelessAdbPayload, "S", "u", 5555, corp),
              R"({"PERSIST":false,"PORT":5555,"SID":"S","T":"ENABLE_WIRELESS_ADB","U":"u",)"
              R"("WIFI":{"EAP":"PEAP","I":"","P":"pw","PH2":"MSCHAPV2","S":"Corp","T":"eap"}})");
    EXPECT_EQ(makeWirelessAdbPayload(kDisableWirelessAdbPayload, "D", "u", 5555, std::nullopt),
              R"({"PORT":5555,"SID":"D","T":"DISABLE_WIRELESS_ADB","U":"u"})");
    EXPECT_THROW(makeWirelessAdbPayload(kEnableWirelessAdbPayload, "S", "u", 5555, std::nullopt), MirrorError);
}

TEST(SessionId, UpperCaseRandomUuids) {
    EXPECT_TRUE(std::regex_match(makeSessionId(),
                                 std::regex("[0-9A-F]{8}-[0-9A-F]{4}-4[0-9A-F]{3}-[89AB][0-9A-F]{3}-[0-9A-F]{12}")));
}

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

class RecordingPage final : public WirelessAdbQrPage {
public:
    void configureEnableQrMode() override {}
    void showQrImage(const std::optional<QrModuleBitmap>& image) override { images += image ? 1 : 0; }
    void showStatusState(const std::string& title, const std::string&, bool) override { states.push_back(title); }
    void showFailureState(const std::string& message, FailureAuthorizationAction, bool) override {
        states.push_back(message);
    }
    void showWaitingState() override { states.push_back("waiting"); }
    void showWifiPasswordState(const std::string&) override {}
    int images = 0;
    std::vector<std::string> states;
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
        hooks.wifiProfileProvider = [profile] { return profile; };
        hooks.wifiNameProvider = [] { return std::optional<std::string>(" 办公室 \n"); };
        hooks.lanAddress = [address] { return address; };
        return std::make_shared<WirelessAdbQrController>(main, page, hooks, 0,
                                                         CallbackServerLimits{.bindAddress = "127.0.0.1"});
    }
    // Runs the main queue until `count` hand-backs were posted and ran.
    void settle(int count) {
        ASSERT_TRUE(main.inner.runUntil([&] { return main.posts == count; }, Seconds(20)));
        main.inner.runPending();
    }

    CountingMainQueue main;
    RecordingPage page;
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
    EXPECT_EQ(page.states.back(), "waiting");
    EXPECT_TRUE(controller->activeCallbackUrl()->starts_with("http://127.0.0.1:"));

    controller->makeDisableQrImage();
    std::string firstId = controller->disableSessionId();
    controller->makeDisableQrImage();
    EXPECT_NE(controller->disableSessionId(), firstId);
    EXPECT_NE(controller->disableSessionId(), controller->sessionId());
    controller->stop();
    EXPECT_THROW(controller->makeDisableQrImage(), MirrorError);

    std::lock_guard lock(mutex);
    EXPECT_EQ(logged.size(), 3u);  // one code, two disable codes
    for (const auto& line : logged) EXPECT_EQ(line.find(kPassword), std::string::npos) << line;
}

}  // namespace
}  // namespace orvan
