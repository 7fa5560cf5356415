// The connection engine end to end: the real adb, an isolated shared server and a private server
// on test ports, and simulated glasses on loopback addresses. Real time throughout, except the
// circuit breaker's five minutes, which run on a virtual clock.

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <future>
#include <thread>

#include "adb/ListeningSocketOwner.h"
#include "mirror/MirrorService.h"
#include "support/AdbWorld.h"

namespace orvan {
namespace {

using namespace std::chrono_literals;
using testing::AdbWorld;
using testing::GlassesOptions;
using testing::SimulatedGlasses;

constexpr auto kShared = AdbServerScope::sharedDevelopment;
constexpr auto kPrivate = AdbServerScope::privateMirroring;

class ConnectionE2eTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!AdbWorld::available()) GTEST_SKIP() << "needs the real adb and glasses-sim";
        world = std::make_unique<AdbWorld>();
        ToolLocation tools = ToolLocation::inToolFolder(world->toolFolder());
        if (!std::filesystem::exists(tools.scrcpy)) {
            tools.scrcpy = world->root() / "scrcpy-placeholder";
            std::ofstream(tools.scrcpy) << "";
        }
        MirrorServiceOptions options;
        options.tools = tools;
        options.privatePort = world->privateServerPort();
        options.clock = &clock();
        service = std::make_unique<MirrorService>(std::move(options));
        service->setOnLog([this](const std::string& line) {
            std::lock_guard guard(mutex);
            logLines.push_back(line);
        });
    }

    void TearDown() override {
        if (!world) return;
        // Whatever a flow did, it never started or killed a server without naming the private
        // port: the shared server belongs to the developer.
        for (const auto& invocation : world->adbTrace()) {
            auto command = invocation.command();
            if (command.empty() || (command[0] != "start-server" && command[0] != "kill-server")) continue;
            EXPECT_EQ(invocation.serverPort(), std::to_string(world->privateServerPort())) << invocation.commandLine();
        }
        service.reset();
        world.reset();
    }

    virtual Clock& clock() { return SystemClock::shared(); }

    struct Connect {
        bool connected = false;
        std::vector<std::string> failures;
        double seconds = 0;
    };
    Connect connect(SimulatedGlasses& glasses, AdbServerScope scope, double timeout = 5.0,
                    bool immediateFallback = false) {
        Connect result;
        auto start = std::chrono::steady_clock::now();
        result.connected = service->wirelessAdbConnector().tryConnectWirelessAdb(
            glasses.wlanAddress(), glasses.wirelessPort(),
            {.timeout = timeout,
             .onFailure = [&](const std::string& message) { result.failures.push_back(message); },
             .scope = scope,
             .preferImmediateSharedFallback = immediateFallback});
        result.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        return result;
    }

    // The traced commands whose command words start with `word` ("connect", "disconnect", ...).
    std::vector<std::string> commands(const std::string& word) const {
        std::vector<std::string> lines;
        for (const auto& invocation : world->adbTrace()) {
            auto command = invocation.command();
            if (!command.empty() && command[0] == word) lines.push_back(invocation.commandLine());
        }
        return lines;
    }
    bool logged(const std::string& line) {
        std::lock_guard guard(mutex);
        return std::find(logLines.begin(), logLines.end(), line) != logLines.end();
    }
    // A pair whose transport on the shared server went "offline"; the trace starts after it.
    bool connectedThenOffline(SimulatedGlasses& glasses) {
        world->connectWifi(glasses);
        if (!world->waitForState(glasses.wifiSerial(), "device", 10s)) return false;
        glasses.goOffline();
        if (!world->waitForState(glasses.wifiSerial(), "offline", 10s)) return false;
        world->clearAdbTrace();
        return true;
    }
    std::optional<pid_t> privateServerPid() const {
        ListeningSocketOwner owner;
        return owner.ownerOf(owner.listeningSockets(world->privateServerPort()));
    }

    std::unique_ptr<AdbWorld> world;
    std::unique_ptr<MirrorService> service;
    std::mutex mutex;
    std::vector<std::string> logLines;
};

TEST_F(ConnectionE2eTest, FreshTargetConnectsOnThePrivateServer) {
    SimulatedGlasses& glasses = world->startGlasses();
    ASSERT_TRUE(service->privateAdbServer().preparePrivateWirelessAdbServer(false));
    EXPECT_TRUE(logged("投屏专用 ADB Server 已就绪: 127.0.0.1:" + std::to_string(world->privateServerPort())));

    auto result = connect(glasses, kPrivate);
    EXPECT_TRUE(result.connected) << (result.failures.empty() ? "" : result.failures[0]);
    EXPECT_EQ(commands("connect").size(), 1u);
    EXPECT_EQ(service->connectedTarget().get(), glasses.wifiSerial());
    // The transport lives on the private server only; the shared one never heard of it.
    EXPECT_EQ(world->adbOnPort(world->privateServerPort(), {"-s", glasses.wifiSerial(), "get-state"}).out, "device\n");
    EXPECT_FALSE(world->deviceState(glasses.wifiSerial()).has_value());
}

TEST_F(ConnectionE2eTest, AuthorizationAcceptedWithinTheWaitConnects) {
    GlassesOptions options;
    options.auth = "key";
    options.trustWorldKey = false;
    options.acceptAfterSeconds = 3;
    SimulatedGlasses& glasses = world->startGlasses(options);
    auto result = connect(glasses, kShared);
    EXPECT_TRUE(result.connected) << (result.failures.empty() ? "" : result.failures[0]);
    EXPECT_TRUE(logged("眼镜端 ADB 授权已确认: " + glasses.wifiSerial()));
    EXPECT_EQ(world->deviceState(glasses.wifiSerial()), "device");
    EXPECT_LT(result.seconds, 12.0);
}

TEST_F(ConnectionE2eTest, OfflineTransportAuthorizedLaterNeedsNoDisconnect) {
    SimulatedGlasses& glasses = world->startGlasses();
    ASSERT_TRUE(connectedThenOffline(glasses));
    auto back = std::async(std::launch::async, [&] {
        std::this_thread::sleep_for(4s);
        glasses.goOnline();
    });
    auto result = connect(glasses, kShared);
    back.get();
    EXPECT_TRUE(result.connected) << (result.failures.empty() ? "" : result.failures[0]);
    EXPECT_TRUE(logged("无线 ADB 首次进入 offline，保留现有 transport 等待眼镜授权: " + glasses.wifiSerial()));
    EXPECT_TRUE(commands("disconnect").empty());
}

TEST_F(ConnectionE2eTest, PrivateServerStartsRestartsAndStopsOnItsPort) {
    auto& server = service->privateAdbServer();
    const std::string port = std::to_string(world->privateServerPort());
    ASSERT_FALSE(privateServerPid().has_value());
    ASSERT_TRUE(server.preparePrivateWirelessAdbServer(false));
    auto first = privateServerPid();
    ASSERT_TRUE(first.has_value());

    EXPECT_TRUE(server.restartPrivateWirelessAdbServer());
    auto second = privateServerPid();
    ASSERT_TRUE(second.has_value());
    EXPECT_NE(*first, *second);

    server.stopPrivateWirelessAdbServer();
    EXPECT_TRUE(logged("应用退出，已停止投屏专用 ADB Server: 127.0.0.1:" + port));
    for (int i = 0; i < 50 && privateServerPid(); ++i) std::this_thread::sleep_for(100ms);
    EXPECT_FALSE(privateServerPid().has_value());
    EXPECT_EQ(service->localNetworkProbe().probeLocalNetworkAccess("127.0.0.1", world->privateServerPort(), 1.0),
              LocalNetworkProbeOutcome::unavailable("Connection refused"));

    // A stop with no server running still asks, and says that it could not stop one.
    server.stopPrivateWirelessAdbServer();
    EXPECT_TRUE(logLines.back().starts_with("应用退出时未能正常停止投屏专用 ADB Server: ") ||
                logLines.back() == "应用退出，已停止投屏专用 ADB Server: 127.0.0.1:" + port)
        << logLines.back();
    EXPECT_EQ(commands("kill-server").size(), 3u);
    EXPECT_EQ(commands("start-server").size(), 2u);
}

// The breaker's five minutes on a virtual clock; the servers and commands are real.
class CircuitBreakerE2eTest : public ConnectionE2eTest {
protected:
    Clock& clock() override { return fakeClock; }
    FakeClock fakeClock;
};

TEST_F(CircuitBreakerE2eTest, ScanWorkGoesToTheSharedServerForFiveMinutes) {
    auto& server = service->privateAdbServer();
    EXPECT_EQ(server.preferredScanAdbServerScope(), kPrivate);
    EXPECT_TRUE(privateServerPid().has_value());
    server.suppressPrivateWirelessAdbTemporarily("当前扫码未形成有效 transport");

    fakeClock.advance(Seconds(299));
    EXPECT_EQ(server.preferredScanAdbServerScope(), kShared);
    fakeClock.advance(Seconds(2));
    EXPECT_EQ(server.preferredScanAdbServerScope(), kPrivate);
    EXPECT_EQ(commands("start-server").size(), 1u);  // still ready: no second start

    server.suppressPrivateWirelessAdbTemporarily("x");
    server.resetPrivateWirelessAdbCircuitBreaker("电脑网络发生变化");
    EXPECT_EQ(server.preferredScanAdbServerScope(), kPrivate);
    EXPECT_EQ(commands("start-server").size(), 2u);

    // A scan session on the shared scope while the breaker is open connects there.
    SimulatedGlasses& glasses = world->startGlasses();
    server.suppressPrivateWirelessAdbTemporarily("x");
    AdbServerScope scope = server.preferredScanAdbServerScope();
    ASSERT_EQ(scope, kShared);
    auto result = connect(glasses, scope);
    EXPECT_TRUE(result.connected);
    EXPECT_EQ(world->deviceState(glasses.wifiSerial()), "device");
}

}  // namespace
}  // namespace orvan
