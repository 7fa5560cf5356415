// The connection engine end to end: the real adb, an isolated shared server and a private server
// on test ports, and simulated glasses on loopback addresses. Only what the real adb proves: the
// private server's isolation and life cycle, and a real authorization prompt; the ladder's
// branches are scripted in WirelessAdbConnectorTest.

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <fstream>
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

    struct Connect {
        bool connected = false;
        std::vector<std::string> failures;
    };
    Connect connect(SimulatedGlasses& glasses, AdbServerScope scope) {
        Connect result;
        result.connected = service->wirelessAdbConnector().tryConnectWirelessAdb(
            glasses.wlanAddress(), glasses.wirelessPort(),
            {.timeout = 5.0,
             .onFailure = [&](const std::string& message) { result.failures.push_back(message); },
             .scope = scope});
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

}  // namespace
}  // namespace orvan
