// Mirror windows end to end: the real adb with an isolated shared server and a private server on
// test ports, simulated glasses on loopback addresses, and the scrcpy stand-in as the window
// process (it checks its target through the adb and server it was given). Real time throughout.

#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <future>
#include <nlohmann/json.hpp>

#include "foundation/MirrorError.h"
#include "mirror/MirrorService.h"
#include "platform/FakeWindowSystem.h"
#include "platform/X11WindowSystem.h"
#include "support/AdbWorld.h"
#include "support/ScopedEnvironment.h"

namespace orvan {
namespace {

using namespace std::chrono_literals;
using testing::AdbWorld;
using testing::GlassesOptions;
using testing::ScopedEnvironment;
using testing::SimulatedGlasses;

constexpr auto kShared = AdbServerScope::sharedDevelopment;
constexpr auto kPrivate = AdbServerScope::privateMirroring;
const std::string kFailureTail = "小助手已保留完整尾部输出，可在“查看日志”中检查。";

class MirrorE2eTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!AdbWorld::available() || !AdbWorld::scrcpyStandinPath())
            GTEST_SKIP() << "needs the real adb, glasses-sim and the scrcpy stand-in";
        world = std::make_unique<AdbWorld>();
        standinLog = world->root() / "standin.jsonl";
        env.set("ORVAN_STANDIN_LOG", standinLog.string());
        env.set("ORVAN_STANDIN_DELAY_MS", "200");
        env.unset("DISPLAY");  // no window unless a test brings its own X server
    }

    void TearDown() override {
        if (service) {
            service->stopForTermination();
            auto deadline = std::chrono::steady_clock::now() + 5s;
            auto& launcher = service->scrcpyLauncher();
            while (!launcher.launchedChildrenNotEnded().empty() && std::chrono::steady_clock::now() < deadline)
                std::this_thread::sleep_for(10ms);
            EXPECT_TRUE(launcher.launchedChildrenNotEnded().empty()) << "a stand-in is still running";
        }
        service.reset();
        world.reset();
    }

    MirrorService& makeService(std::shared_ptr<WindowSystem> windows = std::make_shared<FakeWindowSystem>(),
                               Clock* clock = &SystemClock::shared()) {
        MirrorServiceOptions options;
        options.tools = ToolLocation::inToolFolder(world->toolFolder());
        options.privatePort = world->privateServerPort();
        options.clock = clock;
        options.windows = std::move(windows);
        options.mainQueue = main;
        service = std::make_unique<MirrorService>(std::move(options));
        service->setOnLog([this](const std::string& line) {
            std::lock_guard guard(mutex);
            logLines.push_back(line);
        });
        return *service;
    }

    // How discovery describes a pair reachable over Wi-Fi.
    static ConnectedAdbDevice wirelessRecord(SimulatedGlasses& glasses) {
        return ConnectedAdbDevice{glasses.wifiSerial(),
                                  connection_kind::kWireless,
                                  glasses.wlanAddress(),
                                  std::nullopt,
                                  "Tervo3",
                                  glasses.serialNo(),
                                  false,
                                  true};
    }
    // A pair connected over Wi-Fi on the shared server.
    ConnectedAdbDevice wirelessPair(GlassesOptions options = {}) {
        return wirelessRecord(world->startConnectedGlasses(std::move(options)));
    }

    std::string errorOf(const std::function<void()>& operation) {
        try {
            operation();
        } catch (const MirrorError& error) {
            return error.what();
        }
        ADD_FAILURE() << "the operation should have failed";
        return {};
    }

    bool logged(const std::string& line) {
        std::lock_guard guard(mutex);
        return std::find(logLines.begin(), logLines.end(), line) != logLines.end();
    }
    bool loggedStarting(const std::string& prefix) {
        std::lock_guard guard(mutex);
        return std::any_of(logLines.begin(), logLines.end(),
                           [&](const auto& line) { return line.starts_with(prefix); });
    }

    // The stand-in's events of one kind, in order.
    std::vector<nlohmann::json> standinEvents(const std::string& kind) const {
        std::vector<nlohmann::json> events;
        std::ifstream in(standinLog);
        for (std::string line; std::getline(in, line);) {
            auto event = nlohmann::json::parse(line, nullptr, false);
            if (!event.is_discarded() && event.value("event", "") == kind) events.push_back(event);
        }
        return events;
    }

    std::vector<std::string> tracedCommands(const std::string& word) const {
        std::vector<std::string> lines;
        for (const auto& invocation : world->adbTrace()) {
            auto command = invocation.command();
            if (!command.empty() && command[0] == word) lines.push_back(invocation.commandLine());
        }
        return lines;
    }

    std::unique_ptr<AdbWorld> world;
    ScopedEnvironment env;
    std::filesystem::path standinLog;
    std::shared_ptr<ManualMainQueue> main = std::make_shared<ManualMainQueue>();
    std::unique_ptr<MirrorService> service;
    std::mutex mutex;
    std::vector<std::string> logLines;
};

// ---- switching to wireless and reuse -------------------------------------------------------------

TEST_F(MirrorE2eTest, AUsbPairIsSwitchedToWirelessMirroredAndThenReused) {
    GlassesOptions options;
    options.usb = true;
    options.wirelessAdb = false;  // only `tcpip 5555` opens it
    SimulatedGlasses& glasses = world->startGlasses(options);
    world->registerUsb(glasses);
    auto& mirror = makeService();
    auto& orchestrator = mirror.mirrorOrchestrator();

    std::string target = orchestrator.startWirelessMirror();
    EXPECT_EQ(target, glasses.wlanAddress() + ":5555");
    EXPECT_EQ(mirror.mirrorTargets().mirrorTargetsBySource(),
              (std::map<std::string, std::string>{{glasses.usbSerial(), target}}));
    auto tcpip = tracedCommands("tcpip");
    ASSERT_EQ(tcpip.size(), 1u);
    EXPECT_NE(tcpip[0].find("-s " + glasses.usbSerial()), std::string::npos) << tcpip[0];
    EXPECT_EQ(world->deviceState(target), "device");
    EXPECT_TRUE(mirror.scrcpyLauncher().isMirroring(target));
    auto starts = standinEvents("start");
    ASSERT_EQ(starts.size(), 1u);
    EXPECT_EQ(starts[0]["argv"][2], target);
    EXPECT_FALSE(starts[0]["env"].contains("ADB_SERVER_SOCKET"));
    EXPECT_TRUE(logged("scrcpy 启动就绪: target=" + target + ", signal=Texture"));

    // The same target, the other window kind, and the same glasses over USB and over Wi-Fi.
    mirror.startMirror(target);
    EXPECT_TRUE(logged("该眼镜的 scrcpy 已在运行，复用现有窗口: " + target));
    mirror.startGlassShellMirror(target);
    orchestrator.startWirelessGlassShellMirror();
    auto wireless = wirelessRecord(glasses);
    ASSERT_EQ(wireless.serial, target);
    orchestrator.startVerifiedWirelessMirror(wireless, nullptr, nullptr, kShared);
    EXPECT_EQ(standinEvents("start").size(), 1u) << "a second window was launched";
    EXPECT_EQ(mirror.scrcpyLauncher().registrySnapshot().processes.size(), 1u);

    ConnectedAdbDevice usb{glasses.usbSerial(),
                           connection_kind::kUsb,
                           std::nullopt,
                           std::nullopt,
                           "Tervo3",
                           glasses.serialNo(),
                           true,
                           false};
    EXPECT_TRUE(mirror.isMirroring(usb));
    EXPECT_TRUE(mirror.isMirroring(wireless));
}

// ---- start failures ---------------------------------------------------------------------------------

TEST_F(MirrorE2eTest, AServerErrorGivesTheComposedFailureAndANormalCloseItsOwnError) {
    env.set("ORVAN_STANDIN_MODE", "server-error");
    auto device = wirelessPair();
    auto& mirror = makeService();

    auto error = errorOf([&] { mirror.startMirror(device.serial); });
    EXPECT_EQ(error.rfind("scrcpy 启动失败，退出码 1。 ", 0), 0u) << error;
    EXPECT_NE(error.find("ERROR: Server connection failed"), std::string::npos) << error;
    EXPECT_TRUE(error.ends_with(kFailureTail)) << error;
    EXPECT_TRUE(loggedStarting("scrcpy 启动失败详情: "));
    EXPECT_TRUE(mirror.scrcpyLauncher().registrySnapshot().empty());

    env.set("ORVAN_STANDIN_MODE", "exit0");
    try {
        mirror.startMirror(device.serial);
        FAIL() << "expected scrcpyClosedAfterReady";
    } catch (const MirrorError& closed) {
        EXPECT_TRUE(closed.isNormalScrcpyClosure());
    }
    EXPECT_TRUE(logged("scrcpy 已正常关闭: target=" + device.serial + ", signal=ExitCode0"));
}

TEST_F(MirrorE2eTest, ATransportErrorOnALiveTargetIsRetriedOnce) {
    env.set("ORVAN_STANDIN_MODE", "server-error,ready");
    env.set("ORVAN_STANDIN_STATE", (world->root() / "standin-runs").string());
    auto device = wirelessPair();
    auto& mirror = makeService();

    int retries = 0;
    auto ip = mirror.mirrorOrchestrator().startVerifiedWirelessMirror(
        device, [&] { ++retries; }, nullptr, kShared);
    EXPECT_EQ(ip, device.ip);
    EXPECT_EQ(retries, 1);
    EXPECT_TRUE(loggedStarting("scrcpy 第 1 次启动失败: target=" + device.serial +
                               ", state=device, detail=scrcpy 启动失败，退出码 1。"));
    EXPECT_TRUE(logged("scrcpy 第 2 次启动: target=" + device.serial));
    EXPECT_EQ(standinEvents("start").size(), 2u);
    EXPECT_TRUE(mirror.scrcpyLauncher().isMirroring(device.serial));
    EXPECT_TRUE(tracedCommands("connect").empty()) << "a live transport is not reconnected";
    EXPECT_TRUE(tracedCommands("disconnect").empty());
}

// ---- stale wireless transports ----------------------------------------------------------------------

// Makes the pair's wireless transport go stale right after discovery checked it, when the
// mirror start asks whether the target still answers (its second state query).
void staleAfterDiscovery(MirrorService& mirror, const std::string& serial, std::function<void()> makeStale) {
    auto queries = std::make_shared<int>(0);
    mirror.adbRunner().setInvocationObserver([=](const AdbInvocation& invocation) {
        const auto& command = invocation.command;
        bool stateQuery = command.size() >= 3 && command.back() == "get-state" &&
                          std::find(command.begin(), command.end(), serial) != command.end();
        if (stateQuery && ++*queries == 2) makeStale();
    });
}

TEST_F(MirrorE2eTest, AStaleTransportWithTheCableInIsReadAgainAndMirroredThroughTheNewAddress) {
    GlassesOptions options;
    options.usb = true;
    SimulatedGlasses& glasses = world->startConnectedGlasses(options);
    world->registerUsb(glasses);
    auto device = wirelessRecord(glasses);
    auto& mirror = makeService();
    std::string newAddress;
    staleAfterDiscovery(mirror, device.serial, [&] { newAddress = glasses.changeWlanAddress(); });

    std::string target = mirror.mirrorOrchestrator().startWirelessMirror(device);
    ASSERT_FALSE(newAddress.empty());
    EXPECT_EQ(target, newAddress + ":5555");
    EXPECT_TRUE(logged("检测到失效的无线 ADB 连接，正在刷新当前眼镜地址: " + device.serial));
    EXPECT_TRUE(logged("眼镜无线地址已变化：" + device.serial + " -> " + target));
    EXPECT_EQ(mirror.mirrorTargets().mirrorTarget(glasses.usbSerial()), target);
    EXPECT_TRUE(mirror.scrcpyLauncher().isMirroring(target));
    EXPECT_EQ(standinEvents("start").at(0)["argv"][2], target);
}

TEST_F(MirrorE2eTest, AStaleTransportWithoutTheCableNamesTheOldAddress) {
    SimulatedGlasses& glasses = world->startConnectedGlasses();
    auto device = wirelessRecord(glasses);
    auto& mirror = makeService();
    staleAfterDiscovery(mirror, device.serial, [&] { glasses.vanish(); });

    auto error = errorOf([&] { mirror.mirrorOrchestrator().startWirelessMirror(device); });
    EXPECT_EQ(error, "该眼镜原有的无线 ADB 连接已失效（" + device.serial +
                         "）。请保留 USB 连接并点击“检测设备”，小助手会读取眼镜当前 IP 后重新连接。 原地址：" +
                         glasses.wlanAddress() + "。");
    EXPECT_TRUE(standinEvents("start").empty());
}

// ---- the shared server --------------------------------------------------------------------------

TEST_F(MirrorE2eTest, AMirrorOnThePrivateServerIsSyncedToTheSharedOne) {
    SimulatedGlasses& glasses = world->startGlasses();
    auto& mirror = makeService();
    ASSERT_TRUE(mirror.privateAdbServer().preparePrivateWirelessAdbServer(false));
    ASSERT_TRUE(mirror.wirelessAdbConnector().tryConnectWirelessAdb(glasses.wlanAddress(), glasses.wirelessPort(),
                                                                    {.scope = kPrivate}));
    std::string target = glasses.wifiSerial();
    EXPECT_FALSE(world->deviceState(target)) << "the shared server does not know the pair yet";
    auto device = wirelessRecord(glasses);

    mirror.mirrorOrchestrator().startVerifiedWirelessMirror(device, nullptr, nullptr, kPrivate);
    EXPECT_EQ(standinEvents("start").at(0)["env"]["ADB_SERVER_SOCKET"],
              "tcp:127.0.0.1:" + std::to_string(world->privateServerPort()));
    mirror.sharedAdbSync().syncWirelessTargetToSharedAdb(glasses.wlanAddress(), glasses.wirelessPort(), kPrivate);
    mirror.sharedAdbSync().waitUntilIdle();

    EXPECT_EQ(world->deviceState(target), "device");
    EXPECT_TRUE(logged("已将眼镜同步到共享 5037，Android Studio 可继续调试: " + target));
    EXPECT_TRUE(mirror.scrcpyLauncher().isMirroring(target));
}

}  // namespace
}  // namespace orvan
