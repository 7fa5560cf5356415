// adb pull and push against the simulated storage, byte for byte. No test of the app moves media
// yet, so this one case keeps the simulator's file transfer honest until one does.
#include <gtest/gtest.h>

#include <fstream>
#include <random>
#include <sstream>

#include "support/AdbWorld.h"

namespace orvan::testing {
namespace {

using namespace std::chrono_literals;

std::string contents(const std::filesystem::path& path) {
    std::ifstream file(path, std::ios::binary);
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

TEST(SimSync, PullAndPushCarryEveryByteAndAMissingFileIsReportedLikeAdbDoes) {
    if (!AdbWorld::available()) GTEST_SKIP() << "adb or glasses-sim missing";
    AdbWorld world;
    SimulatedGlasses& glasses = world.startConnectedGlasses({.bulkCount = 0});
    auto adb = [&](std::vector<std::string> args) {
        args.insert(args.begin(), {"-s", glasses.wifiSerial()});
        return world.adb(args, 60s);
    };
    const std::string photo = "/sdcard/DCIM/Camera/IMG 0001.JPG";
    const CommandResult pull = adb({"pull", photo, (world.root() / "photo.jpg").string()});
    EXPECT_EQ(pull.exitCode, 0) << pull.out << pull.err;
    EXPECT_EQ(contents(world.root() / "photo.jpg"), contents(glasses.hostPath(photo)));

    std::string upload(3'000'000, '\0');  // many 64 KiB records, each acknowledged
    std::mt19937 random(7);
    for (char& byte : upload) byte = static_cast<char>(random());
    std::ofstream(world.root() / "upload.bin", std::ios::binary) << upload;
    const CommandResult push = adb({"push", (world.root() / "upload.bin").string(), "/sdcard/Download/u.bin"});
    EXPECT_EQ(push.exitCode, 0) << push.out << push.err;
    EXPECT_EQ(contents(glasses.hostPath("/sdcard/Download/u.bin")), upload);

    const CommandResult missing = adb({"pull", "/sdcard/DCIM/Camera/nope.jpg", (world.root() / "nope").string()});
    EXPECT_EQ(missing.exitCode, 1);
    EXPECT_NE(missing.out.find("failed to stat remote object '/sdcard/DCIM/Camera/nope.jpg': No such file"),
              std::string::npos)
        << missing.out;
}

}  // namespace
}  // namespace orvan::testing
