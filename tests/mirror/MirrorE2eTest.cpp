// Mirroring end to end: the real adb with an isolated shared server and a private server on test
// ports, simulated glasses on loopback addresses, and the scrcpy stand-in as the window process
// (it checks its target through the adb and server it was given). Only what the real adb proves:
// the switch to wireless, the private server's isolation, life cycle and sync to
// the shared server; the branches are scripted in MirrorOrchestratorTest and
// WirelessAdbConnectorTest, with adb's authorization texts as SimGlassesE2ETest shows them.

#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <nlohmann/json.hpp>

#include "adb/ListeningSocketOwner.h"
#include "mirror/MirrorService.h"
#include "platform/FakeWindowSystem.h"
#include "support/AdbWorld.h"
#include "support/ScopedEnvironment.h"
#include "support/Wait.h"

namespace orvan {
namespace {

using namespace std::chrono_literals;
using testing::AdbWorld;
using testing::GlassesOptions;
using testing::ScopedEnvironment;
using testing::SimulatedGlasses;

constexpr auto kShared = AdbServerScope::sharedDevelopment;
constexpr auto kPrivate = AdbServerScope::privateMirroring;

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
        if (!world) return;
        // Whatever a flow did, it never started or killed a server without naming the private
        // port: the shared server belongs to the developer.
        for (const auto& invocation : world->adbTrace()) {
            const auto command = invocation.command();
            if (!command.empty() && (command[0] == "start-server" || command[0] == "kill-server")) {
                EXPECT_EQ(invocation.serverPort(), std::to_string(world->privateServerPort()))
                    << invocation.commandLine();
            }
        }
        if (service) {
            service->stopForTermination();
            auto& launcher = service->scrcpyLauncher();
            EXPECT_TRUE(testing::waitUntil([&] { return launcher.launchedChildrenNotEnded().empty(); }))
                << "a stand-in is still running";
        }
        service.reset();
        world.reset();
    }

    MirrorService& makeService() {
        MirrorServiceOptions options;
        options.tools = ToolLocation::inToolFolder(world->toolFolder());
        options.privatePort = world->privateServerPort();
        options.windows = std::make_shared<FakeWindowSystem>();
        options.mainQueue = main;
        service = std::make_unique<MirrorService>(std::move(options));
        return *service;
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
};

// ---- switching to wireless --------------------------------------------------------------------

// Reuse of the window across routes is the launcher's and the orchestrator's (scripted there);
// that both views of one pair carry the same identity is DeviceDiscoveryE2eTest's.
TEST_F(MirrorE2eTest, AUsbPairIsSwitchedToWirelessAndMirrored) {
    GlassesOptions options;
    options.usb = true;
    options.wirelessAdb = false;  // only `tcpip 5555` opens it
    SimulatedGlasses& glasses = world->startGlasses(options);
    world->registerUsb(glasses);
    auto& mirror = makeService();
    auto& orchestrator = mirror.mirrorOrchestrator();

    std::string target = orchestrator.startWirelessMirror();
    EXPECT_EQ(target, glasses.wlanAddress() + ":5555");
    auto tcpip = tracedCommands("tcpip");
    ASSERT_EQ(tcpip.size(), 1u);
    EXPECT_NE(tcpip[0].find("-s " + glasses.usbSerial()), std::string::npos) << tcpip[0];
    EXPECT_EQ(world->deviceState(target), "device");
    EXPECT_TRUE(mirror.scrcpyLauncher().isMirroring(target));
    auto starts = standinEvents("start");
    ASSERT_EQ(starts.size(), 1u);
    EXPECT_EQ(starts[0]["argv"][2], target);
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
    // How discovery describes a pair reachable over Wi-Fi.
    ConnectedAdbDevice device{.serial = target,
                              .connectionKind = connection_kind::kWireless,
                              .ip = glasses.wlanAddress(),
                              .wifiName = {},
                              .model = "Tervo3",
                              .deviceId = glasses.serialNo(),
                              .hasWireless = true};

    // The stand-in checks the target through the server it was given: only the private one knows it.
    mirror.mirrorOrchestrator().startVerifiedWirelessMirror(device, nullptr, nullptr, kPrivate);
    mirror.sharedAdbSync().syncWirelessTargetToSharedAdb(glasses.wlanAddress(), glasses.wirelessPort(), kPrivate);
    mirror.sharedAdbSync().waitUntilIdle();

    EXPECT_EQ(world->deviceState(target), "device");
    EXPECT_TRUE(mirror.scrcpyLauncher().isMirroring(target));
}

TEST_F(MirrorE2eTest, PrivateServerStartsRestartsAndStopsOnItsPort) {
    auto& server = makeService().privateAdbServer();
    auto serverPid = [&] {
        ListeningSocketOwner owner;
        return owner.ownerOf(owner.listeningSockets(world->privateServerPort()));
    };
    ASSERT_FALSE(serverPid());
    ASSERT_TRUE(server.preparePrivateWirelessAdbServer(false));
    auto first = serverPid();
    ASSERT_TRUE(first);
    EXPECT_TRUE(server.restartPrivateWirelessAdbServer());
    auto second = serverPid();
    ASSERT_TRUE(second);
    EXPECT_NE(*first, *second);

    server.stopPrivateWirelessAdbServer();
    EXPECT_TRUE(testing::waitUntil([&] { return !serverPid(); }));
    // A stop with no server running still asks, and says that it could not stop one.
    server.stopPrivateWirelessAdbServer();
    EXPECT_EQ(tracedCommands("kill-server").size(), 3u);
    EXPECT_EQ(tracedCommands("start-server").size(), 2u);
}

}  // namespace
}  // namespace orvan
