// The commands the app runs, through the real adb, in both shell protocols.
#include <gtest/gtest.h>

#include <future>

#include "support/AdbWorld.h"

namespace orvan::testing {
namespace {

using namespace std::chrono_literals;

class SimShell : public ::testing::Test {
protected:
    void SetUp() override {
        if (!AdbWorld::available()) GTEST_SKIP() << "adb or glasses-sim missing";
        world_ = std::make_unique<AdbWorld>();
    }
    SimulatedGlasses& connected(GlassesOptions options) { return world_->startConnectedGlasses(std::move(options)); }
    CommandResult shell(const SimulatedGlasses& glasses, const std::vector<std::string>& args,
                        std::chrono::milliseconds timeout = 20s) {
        std::vector<std::string> all = {"-s", glasses.wifiSerial(), "shell"};
        all.insert(all.end(), args.begin(), args.end());
        return world_->adb(all, timeout);
    }
    std::unique_ptr<AdbWorld> world_;
};

TEST_F(SimShell, EveryCommandTheAppRunsAnswersLikeTheGlasses) {
    SimulatedGlasses& glasses = connected({.serialNo = "TV3ABCDEF123", .bulkCount = 0});
    EXPECT_EQ(shell(glasses, {"getprop", "ro.product.model"}).out, "Tervo3\n");
    EXPECT_EQ(shell(glasses, {"getprop", "ro.serialno"}).out, "TV3ABCDEF123\n");
    EXPECT_EQ(shell(glasses, {"getprop", "ro.boot.serialno"}).out, "TV3ABCDEF123\n");
    EXPECT_EQ(shell(glasses, {"echo", "__ORVAN_MIRROR_ADB_READY__"}).out, "__ORVAN_MIRROR_ADB_READY__\n");

    const CommandResult ip = shell(glasses, {"ip", "addr", "show", "wlan0"});
    EXPECT_EQ(ip.exitCode, 0);
    EXPECT_NE(ip.out.find("    inet " + glasses.wlanAddress() + "/24 "), std::string::npos) << ip.out;
    EXPECT_NE(shell(glasses, {"cmd", "wifi", "status"}).out.find("SSID: \"OrvanOffice\","), std::string::npos);
    EXPECT_NE(shell(glasses, {"dumpsys", "wifi"}).out.find("mWifiInfo SSID: \"OrvanOffice\","), std::string::npos);

    const CommandResult camera = shell(glasses, {"ls", "-la", "/sdcard/DCIM/Camera/"});
    EXPECT_EQ(camera.exitCode, 0);
    EXPECT_TRUE(camera.out.starts_with("total ")) << camera.out;
    EXPECT_NE(camera.out.find(" IMG 0001.JPG\n"), std::string::npos);
    EXPECT_NE(camera.out.find(" Trip Video.MP4\n"), std::string::npos);

    const CommandResult missing = shell(glasses, {"ls", "-la", "/sdcard/Pictures/album/"});
    EXPECT_EQ(missing.exitCode, 1);
    EXPECT_EQ(missing.out, "");
    EXPECT_EQ(missing.err, "ls: /sdcard/Pictures/album/: No such file or directory\n");

    const CommandResult unknown = shell(glasses, {"frobnicate"});
    EXPECT_EQ(unknown.exitCode, 127);
    EXPECT_EQ(unknown.err, "/system/bin/sh: frobnicate: inaccessible or not found\n");
}

TEST_F(SimShell, ConcurrentStreamsOnOneTransport) {
    SimulatedGlasses& glasses = connected({.media = false});
    glasses.setShellResponse("sleep-a-bit", {.out = "slept\n", .delayMs = 400});
    std::vector<std::future<CommandResult>> runs;
    for (int i = 0; i < 6; ++i) {
        runs.push_back(std::async(std::launch::async, [&, i] {
            return i % 2 ? shell(glasses, {"sleep-a-bit"}) : shell(glasses, {"echo", std::to_string(i)});
        }));
    }
    for (int i = 0; i < 6; ++i) {
        const CommandResult result = runs[static_cast<std::size_t>(i)].get();
        EXPECT_EQ(result.exitCode, 0);
        EXPECT_EQ(result.out, i % 2 ? "slept\n" : std::to_string(i) + "\n");
    }
}

}  // namespace
}  // namespace orvan::testing
