#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <future>
#include <mutex>

#include "adb/RecentDeviceStore.h"
#include "foundation/MirrorError.h"
#include "platform/Dispatch.h"
#include "shell/ManualPageController.h"
#include "support/Recorders.h"
#include "support/TempDir.h"
#include "support/Wait.h"

namespace orvan {
namespace {

namespace fs = std::filesystem;

// Answers like the service would for a scripted set of glasses; records what was asked.
class FakeBackend : public ManualPageBackend {
public:
    AdbDevices detectAdbDevices(bool) override {
        std::lock_guard lock(mutex);
        ++detections;
        if (detectionGate) detectionGate();
        return afterReconnect && reconnects > 0 ? *afterReconnect : listing;
    }
    AdbDevices detectAdbDevicePresence(bool) override {
        std::lock_guard lock(mutex);
        ++quickListings;
        AdbDevices quick;
        quick.usb = listing.usb;
        quick.wireless = listing.wireless;
        return quick;
    }
    std::string getWlanIp(const std::string& serial, bool) override {
        if (!wlan.contains(serial)) throw MirrorError::message("无法从 wlan0 获取眼镜 IP");
        return wlan.at(serial);
    }
    std::optional<std::string> getWlanSsid(const std::string&, bool) override { return std::string("GlassesNet"); }
    std::optional<std::string> getDeviceModel(const std::string&, bool) override { return std::nullopt; }
    void connectWireless(const std::string& ip, int port, double timeout, bool silent) override {
        std::lock_guard lock(mutex);
        ++reconnects;
        reconnectCalls.push_back(ip + ":" + std::to_string(port) + "/" + std::to_string(timeout).substr(0, 3) +
                                 (silent ? "/silent" : ""));
    }
    void startWirelessMirror(const ConnectedAdbDevice& device, bool glassShell) override {
        if (startFailure) throw MirrorError::of(startFailureKind, *startFailure);
        std::lock_guard lock(mutex);
        started.push_back(device.serial + (glassShell ? "#glass-shell" : ""));
        mirroring = true;
    }
    void stopMirror(const ConnectedAdbDevice& device) override {
        std::lock_guard lock(mutex);
        stopped.push_back(device.serial);
        mirroring = false;
    }
    void disconnect(const std::optional<ConnectedAdbDevice>& device) override {
        disconnected.push_back(device ? device->serial : "all");
    }
    bool isMirroring(const ConnectedAdbDevice&) override { return mirroring; }
    bool isAudioForwardingEnabled() override { return audio; }
    void setAudioForwardingEnabled(bool enabled) override { audio = enabled; }
    std::string computerWifiName() override { return "HomeWiFi"; }

    std::mutex mutex;
    AdbDevices listing;
    std::optional<AdbDevices> afterReconnect;
    std::map<std::string, std::string> wlan;
    std::optional<std::string> startFailure;
    MirrorError::Kind startFailureKind = MirrorError::Kind::message;
    std::function<void()> detectionGate;
    std::atomic<bool> mirroring{false}, audio{true};
    int detections = 0, quickListings = 0, reconnects = 0;
    std::vector<std::string> reconnectCalls, started, stopped, disconnected;
};

class RecordingView : public ManualPageView {
public:
    void renderTabs(const std::vector<DeviceTab>& rendered, std::optional<size_t> index) override {
        tabs = rendered;
        selected = index;
    }
    // The rows' status and setStatus write the same label, as in the page.
    void showStatusRows(const StatusRows& shown) override {
        rows = shown;
        statuses.push_back(shown.status);
    }
    void setStatus(const std::string& text) override { statuses.push_back(text); }
    void setMirrorButtonTitle(const std::string& title) override { mirrorButton = title; }
    void setAudioForwarding(bool checked, const std::string& tip) override {
        audioChecked = checked;
        audioTooltip = tip;
    }
    void setBusy(bool value) override { busy = value; }
    void showWarning(const std::string& title, const std::string& message) override {
        warnings.push_back(title + "|" + message);
    }
    void showInformation(const std::string& message, const std::string& button) override {
        infos.push_back(message + "|" + button);
    }

    std::vector<DeviceTab> tabs;
    std::optional<size_t> selected;
    StatusRows rows;
    std::vector<std::string> statuses, warnings, infos;
    std::string mirrorButton, audioTooltip;
    bool audioChecked = false, busy = false;
};

AdbDevices usbAndWirelessOfOnePair() {
    AdbDevices devices;
    devices.usb = {"T3ABC"};
    devices.wireless = {"127.0.0.2:5555"};
    devices.models = {{"T3ABC", "Tervo3"}, {"127.0.0.2:5555", "Tervo3"}};
    devices.deviceIds = {{"T3ABC", "T3ABC"}, {"127.0.0.2:5555", "T3ABC"}};
    devices.ips = {{"T3ABC", "127.0.0.2"}, {"127.0.0.2:5555", "127.0.0.2"}};
    return devices;
}

class ManualPageControllerTest : public ::testing::Test {
protected:
    void SetUp() override {
        Dispatch::setMain(queue_);
        store_ = std::make_shared<RecentDeviceStore>(folder_.path());
        log_.attach(*sink_);
        controller_ = std::make_shared<ManualPageController>(backend_, store_, view_,
                                                             [this](const std::string& line) { (*sink_)(line); });
    }
    void TearDown() override { controller_.reset(); }

    bool settle() {
        return queue_->runUntil(
            [&] { return !controller_->isActionInProgress() && !controller_->isRefreshInProgress(); }, Seconds(5));
    }
    bool logged(const std::string& line) { return log_.contains(line); }
    // The USB and wireless views of one pair, detected and shown.
    void detectOnePair() {
        backend_->listing = usbAndWirelessOfOnePair();
        controller_->detectDevice();
        ASSERT_TRUE(settle());
    }

    std::shared_ptr<ManualMainQueue> queue_ = std::make_shared<ManualMainQueue>();
    std::shared_ptr<FakeBackend> backend_ = std::make_shared<FakeBackend>();
    RecordingView view_;
    testing::TempDir folder_{"orvan-manual"};
    std::shared_ptr<RecentDeviceStore> store_;
    std::shared_ptr<ManualPageController> controller_;
    SharedLogSink sink_ = std::make_shared<LogSink>();
    testing::LogRecorder log_;
};

TEST_F(ManualPageControllerTest, DetectionShowsOneTabPerPairAndRemembersUsbGlasses) {
    backend_->listing = usbAndWirelessOfOnePair();
    backend_->wlan = {{"T3ABC", "127.0.0.2"}};
    controller_->detectDevice();
    EXPECT_EQ(view_.statuses.front(), "正在检测 ADB 设备...");
    ASSERT_TRUE(settle());
    ASSERT_EQ(view_.tabs.size(), 1u);
    EXPECT_EQ(view_.tabs[0].title, "Tervo3");
    EXPECT_EQ(view_.selected, 0u);
    EXPECT_EQ(view_.rows.adb, "USB 和无线 ADB 均已连接");
    EXPECT_EQ(view_.mirrorButton, "开始无线投屏");
    EXPECT_EQ(view_.statuses.back(), "已连接，可开始投屏。");
    controller_->showComputerWifiName("Lab");  // the network watcher read another network
    EXPECT_EQ(view_.rows.computerWifi, "Lab");
    auto records = store_->loadRecords();
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].serial, "T3ABC");
    EXPECT_EQ(records[0].ip, "127.0.0.2");
    EXPECT_EQ(records[0].wifiName, "GlassesNet");
}

TEST_F(ManualPageControllerTest, NothingFoundTriesThreeRecentAddressesThenReportsTheFailure) {
    for (int i = 1; i <= 4; ++i)
        store_->saveRecentDevice("S" + std::to_string(i), "10.0.0." + std::to_string(i), {}, {});
    controller_->detectDevice();
    ASSERT_TRUE(settle());
    EXPECT_EQ(backend_->reconnectCalls.size(), 3u);
    EXPECT_EQ(backend_->reconnectCalls[0], "10.0.0.4:5555/4.0/silent");  // newest first
    EXPECT_EQ(backend_->detections, 2);
    EXPECT_EQ(view_.warnings.back(), "操作失败|未检测到 ADB 设备，请确认 Tervo3 已连接并允许 USB 调试。");
    EXPECT_EQ(view_.statuses.back(), "失败");
    EXPECT_EQ(view_.tabs.size(), 4u);  // the remembered pairs are offered (five at most)
}

// A detection still running when the app lets go of the page and its store writes to a store
// that lives as long as the work does.
TEST_F(ManualPageControllerTest, ADetectionOutlivingTheAppStillRecordsItsPair) {
    std::promise<void> release;
    std::shared_future<void> released = release.get_future().share();
    std::atomic<bool> entered{false};
    backend_->listing = usbAndWirelessOfOnePair();
    backend_->wlan = {{"T3ABC", "127.0.0.2"}};
    backend_->detectionGate = [&] {
        entered = true;
        released.wait();
    };
    controller_->detectDevice();
    ASSERT_TRUE(testing::waitUntil([&] { return entered.load(); }));
    controller_.reset();
    store_.reset();
    release.set_value();
    RecentDeviceStore reader(folder_.path());
    EXPECT_TRUE(testing::waitUntil([&] { return reader.loadRecords().size() == 1; }));
    EXPECT_TRUE(testing::waitUntil([] { return Dispatch::backgroundTasksInFlight() == 0; }));
}

TEST_F(ManualPageControllerTest, AUsbPairWithoutWlanAddressIsNotRemembered) {
    backend_->listing.usb = {"NOWIFI"};
    controller_->detectDevice();
    ASSERT_TRUE(settle());
    EXPECT_TRUE(store_->loadRecords().empty());
}

TEST_F(ManualPageControllerTest, StartThenStopTogglesTheTabTitleAndTheButton) {
    detectOnePair();
    controller_->start();
    ASSERT_TRUE(settle());
    EXPECT_EQ(backend_->started, std::vector<std::string>{"127.0.0.2:5555"});
    EXPECT_EQ(view_.tabs[0].title, "Tervo3 · 投屏中");
    EXPECT_EQ(view_.mirrorButton, "停止无线投屏");
    EXPECT_EQ(view_.statuses.back(), "投屏中");
    EXPECT_EQ(view_.audioTooltip, "请先停止全部投屏，再修改声音设置");  // and a change is refused:

    controller_->audioForwardingToggled(false);
    EXPECT_TRUE(backend_->audio);
    EXPECT_TRUE(view_.audioChecked);
    EXPECT_EQ(view_.infos.back(), "请先停止全部投屏，再修改声音设置|知道了");

    controller_->start();
    ASSERT_TRUE(settle());
    EXPECT_EQ(backend_->stopped.size(), 1u);
    EXPECT_EQ(view_.tabs[0].title, "Tervo3");
    EXPECT_EQ(view_.statuses.back(), "已停止无线投屏，ADB连接保留。");
    controller_->audioForwardingToggled(false);
    EXPECT_FALSE(backend_->audio);
}

TEST_F(ManualPageControllerTest, AFailedStartEndsInTheAlertAndRegistersNothing) {
    detectOnePair();
    backend_->startFailure = "scrcpy 启动超时，未确认视频通道就绪。";
    controller_->startGlassShell();
    ASSERT_TRUE(settle());
    EXPECT_EQ(view_.warnings.back(), "操作失败|scrcpy 启动超时，未确认视频通道就绪。");
    EXPECT_TRUE(controller_->activeMirrors().empty());
    EXPECT_FALSE(view_.busy);

    // A start the quit cancelled is no failure: no alert, no "失败".
    backend_->startFailureKind = MirrorError::Kind::cancelled;
    backend_->startFailure = "扫码会话已被新二维码替换，已取消旧投屏任务。";
    controller_->start();
    ASSERT_TRUE(settle());
    EXPECT_EQ(view_.warnings.size(), 1u);
    EXPECT_NE(view_.statuses.back(), "失败");
    EXPECT_FALSE(view_.busy);
}

TEST_F(ManualPageControllerTest, AStartWithoutADeviceAsksForADetectionADisconnectEndsEverything) {
    controller_->start();
    EXPECT_EQ(view_.warnings, std::vector<std::string>{"操作失败|请先点击“检测设备”，并选择一个设备页签。"});
    controller_->disconnect();
    ASSERT_TRUE(settle());
    EXPECT_EQ(backend_->disconnected, std::vector<std::string>{"all"});
    EXPECT_NE(std::find(view_.statuses.begin(), view_.statuses.end(), "已断开无线 ADB 连接。"), view_.statuses.end());
}

TEST_F(ManualPageControllerTest, ADisconnectFromARecentOnlyTabSwitchesToTheConnectedPair) {
    (void)store_->saveRecentDevice("OLD1", "10.0.0.9", {}, {});
    detectOnePair();
    ASSERT_EQ(view_.tabs.size(), 2u);
    controller_->selectDeviceTab(1);
    controller_->disconnect();
    ASSERT_TRUE(settle());
    EXPECT_EQ(view_.selected, 0u);
    ASSERT_EQ(backend_->disconnected.size(), 1u);
    EXPECT_NE(backend_->disconnected[0], "all");
}

TEST_F(ManualPageControllerTest, ClicksAndTicksDuringADetectionStartNothingMore) {
    backend_->listing = usbAndWirelessOfOnePair();
    std::mutex gate;
    gate.lock();
    backend_->detectionGate = [&] { std::lock_guard wait(gate); };
    controller_->detectDevice();
    for (int i = 0; i < 5; ++i) {
        controller_->detectDevice();
        controller_->start();
        controller_->disconnect();
        controller_->refreshDevicesSilently(false);
    }
    gate.unlock();
    ASSERT_TRUE(settle());
    EXPECT_EQ(backend_->detections, 1);
    EXPECT_EQ(backend_->quickListings, 0);
    EXPECT_TRUE(backend_->started.empty());
    EXPECT_TRUE(backend_->disconnected.empty());
}

TEST_F(ManualPageControllerTest, TheQuickRefreshKeepsDetailsAndSkipsWhileRunning) {
    detectOnePair();
    controller_->refreshDevicesSilently(false);
    controller_->refreshDevicesSilently(false);  // a tick while one runs does nothing
    ASSERT_TRUE(settle());
    EXPECT_EQ(backend_->quickListings, 1);
    ASSERT_EQ(view_.tabs.size(), 1u);
    EXPECT_EQ(view_.tabs[0].title, "Tervo3");  // the model comes from the last full detection
}

TEST_F(ManualPageControllerTest, AMirrorThatEndedElsewhereIsDroppedOnSync) {
    detectOnePair();
    controller_->start();
    ASSERT_TRUE(settle());
    backend_->mirroring = false;  // the user closed the window
    controller_->syncActiveMirrorUi();
    ASSERT_TRUE(queue_->runUntil([&] { return controller_->activeMirrors().empty(); }, Seconds(5)));
    EXPECT_EQ(view_.tabs[0].title, "Tervo3");
}

}  // namespace
}  // namespace orvan
