// Mirroring end to end: the real adb with an isolated shared server and a private server on test
// ports, simulated glasses on loopback addresses, and the scrcpy stand-in as the window process
// (it checks its target through the adb and server it was given). Only what the real adb proves:
// the switch to wireless, the private server's isolation and its sync to the shared server; the
// branches are scripted in MirrorOrchestratorTest and WirelessAdbConnectorTest, with adb's
// authorization texts as SimGlassesE2ETest shows them. The private server's start, restart and
// stop commands are PrivateAdbServerTest's; that adb serves and stops on the port they name,
// AdbWorldTest's.

#include <algorithm>

#include "support/MirrorWorldTest.h"
#include "support/RegisteredWindows.h"

namespace orvan {
namespace {

using testing::GlassesOptions;
using testing::SimulatedGlasses;

constexpr auto kPrivate = AdbServerScope::privateMirroring;

class MirrorE2eTest : public testing::MirrorWorldTest {
protected:
    void SetUp() override {
        MirrorWorldTest::SetUp();
        env.set("ORVAN_STANDIN_DELAY_MS", "200");
    }

    void TearDown() override {
        // Whatever a flow did, it never started or killed a server without naming the private
        // port: the shared server belongs to the developer.
        for (const auto& invocation : world ? world->adbTrace() : std::vector<testing::AdbInvocation>{}) {
            const auto command = invocation.command();
            if (!command.empty() && (command[0] == "start-server" || command[0] == "kill-server")) {
                EXPECT_EQ(invocation.serverPort(), std::to_string(world->privateServerPort()))
                    << invocation.commandLine();
            }
        }
        MirrorWorldTest::TearDown();
    }

    // Windows that end reach the supervisor, as in the app; waits on the main queue.
    MirrorSupervisor& superviseEnds() {
        auto* supervisor = &service->mirrorSupervisor();
        service->setOnScrcpyTerminated([supervisor](const MirrorKey& key, const std::shared_ptr<ScrcpyChild>& child) {
            if (auto end = child ? child->exit() : std::nullopt)
                supervisor->mirrorEnded(key, *end, child->output().text());
        });
        return *supervisor;
    }
    // How discovery describes a pair reachable over Wi-Fi.
    static ConnectedAdbDevice wirelessDevice(SimulatedGlasses& glasses) {
        return {.serial = glasses.wifiSerial(),
                .connectionKind = connection_kind::kWireless,
                .ip = glasses.wlanAddress(),
                .wifiName = {},
                .model = "Tervo3",
                .deviceId = glasses.serialNo(),
                .hasWireless = true};
    }
    bool pumpedUntil(const std::function<bool()>& condition) {
        return testing::waitUntil(
            [&] {
                main->runPending();
                return condition();
            },
            std::chrono::seconds(60));
    }

    std::vector<std::string> tracedCommands(const std::string& word) const {
        std::vector<std::string> lines;
        for (const auto& invocation : world->adbTrace()) {
            auto command = invocation.command();
            if (!command.empty() && command[0] == word) lines.push_back(invocation.commandLine());
        }
        return lines;
    }
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
    auto& mirror = *service;
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
    auto& mirror = *service;
    ASSERT_TRUE(mirror.privateAdbServer().preparePrivateWirelessAdbServer(false));
    ASSERT_TRUE(mirror.wirelessAdbConnector().tryConnectWirelessAdb(glasses.wlanAddress(), glasses.wirelessPort(),
                                                                    {.scope = kPrivate}));
    std::string target = glasses.wifiSerial();
    EXPECT_FALSE(world->deviceState(target)) << "the shared server does not know the pair yet";
    const ConnectedAdbDevice device = wirelessDevice(glasses);

    // The stand-in checks the target through the server it was given: only the private one knows it.
    mirror.mirrorOrchestrator().startVerifiedWirelessMirror(device, nullptr, nullptr, kPrivate);
    mirror.sharedAdbSync().syncWirelessTargetToSharedAdb(glasses.wlanAddress(), glasses.wirelessPort(), kPrivate);
    mirror.sharedAdbSync().waitUntilIdle();

    EXPECT_EQ(world->deviceState(target), "device");
    EXPECT_TRUE(mirror.scrcpyLauncher().isMirroring(target));
}

// ---- coming back by itself ----------------------------------------------------------------------

// A classroom's Wi-Fi drops: three mirrored pairs go away together, refusing connections, and
// each mirror recovers on its own once its glasses answer again.
TEST_F(MirrorE2eTest, ThreePairsThatDropTogetherAllComeBack) {
    env.set("ORVAN_STANDIN_WATCH_MS", "200");  // the windows notice their glasses going away
    auto& supervisor = superviseEnds();
    auto& launcher = service->scrcpyLauncher();
    ASSERT_TRUE(service->privateAdbServer().preparePrivateWirelessAdbServer(false));
    std::vector<SimulatedGlasses*> pairs;
    std::vector<std::string> identities;
    for (int i = 0; i < 3; ++i) {
        SimulatedGlasses& glasses = world->startGlasses();
        const ConnectedAdbDevice device = wirelessDevice(glasses);
        ASSERT_TRUE(service->wirelessAdbConnector().tryConnectWirelessAdb(glasses.wlanAddress(),
                                                                         glasses.wirelessPort(), {.scope = kPrivate}));
        service->mirrorOrchestrator().startVerifiedWirelessMirror(device, nullptr, nullptr, kPrivate);
        service->superviseMirror(device, device.serial, false, glasses.name(), kPrivate);
        pairs.push_back(&glasses);
        identities.push_back(device.mirrorIdentity());
    }
    const auto before = testing::registeredPids(launcher);
    for (auto* glasses : pairs) {
        glasses->control("refuse " + glasses->name() + " wifi on");
        glasses->control("drop " + glasses->name() + " wifi abrupt");
    }
    ASSERT_TRUE(pumpedUntil([&] { return supervisor.recoveringIdentities().size() == 3; }));
    for (auto* glasses : pairs) glasses->control("refuse " + glasses->name() + " wifi off");
    ASSERT_TRUE(pumpedUntil([&] {
        auto running = testing::registeredPids(launcher);
        return supervisor.recoveringIdentities().empty() && running.size() == 3 &&
               std::ranges::none_of(running, [&](const auto& entry) { return before.at(entry.first) == entry.second; });
    }));
    for (const auto& identity : identities) EXPECT_TRUE(supervisor.isWatched(identity));  // for the next drop
}

// The glasses come back on a new address while their cable is in: the old address stays silent,
// so the mirror is started again through the switch over USB, at the address the glasses report.
TEST_F(MirrorE2eTest, APairBackOnANewAddressIsSwitchedOverItsCable) {
    env.set("ORVAN_STANDIN_WATCH_MS", "200");
    auto& supervisor = superviseEnds();
    SimulatedGlasses& glasses = world->startGlasses({.usb = true});
    world->registerUsb(glasses);
    const std::string old = service->mirrorOrchestrator().startWirelessMirror();
    auto devices = service->deviceDiscovery().detectAdbDevices(true).connectedDevices();
    auto usb = std::ranges::find_if(devices, [&](const auto& device) { return device.serial == glasses.usbSerial(); });
    ASSERT_NE(usb, devices.end());
    service->superviseMirror(*usb, old, false, glasses.name(), std::nullopt);
    const std::string moved = glasses.control("wlan " + glasses.name() + " auto").value("wlanAddress", "") + ":5555";
    ASSERT_NE(moved, old);
    ASSERT_TRUE(pumpedUntil([&] {
        return service->scrcpyLauncher().isMirroring(moved) && supervisor.recoveringIdentities().empty();
    }));
    EXPECT_FALSE(service->scrcpyLauncher().isMirroring(old));
    EXPECT_EQ(tracedCommands("tcpip").size(), 2u);  // the first switch and the one of the recovery
}

}  // namespace
}  // namespace orvan
