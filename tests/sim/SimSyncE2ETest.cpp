// adb pull, push and ls against the simulated storage, byte for byte.
#include <gtest/gtest.h>

#include <fstream>
#include <future>
#include <random>

#include "support/AdbWorld.h"
#include "support/Wait.h"

namespace orvan::testing {
namespace {

using namespace std::chrono_literals;

// Compares two files in chunks (100 MB files are not read into memory at once).
::testing::AssertionResult sameBytes(const std::filesystem::path& a, const std::filesystem::path& b) {
    std::ifstream left(a, std::ios::binary), right(b, std::ios::binary);
    if (!left || !right) return ::testing::AssertionFailure() << "cannot open " << a << " or " << b;
    std::vector<char> x(1 << 20), y(1 << 20);
    std::uint64_t offset = 0;
    while (true) {
        left.read(x.data(), static_cast<std::streamsize>(x.size()));
        right.read(y.data(), static_cast<std::streamsize>(y.size()));
        if (left.gcount() != right.gcount()) {
            return ::testing::AssertionFailure() << "sizes differ after " << offset << " bytes";
        }
        const auto n = static_cast<std::size_t>(left.gcount());
        if (std::memcmp(x.data(), y.data(), n) != 0) {
            return ::testing::AssertionFailure() << "bytes differ in the MiB at " << offset;
        }
        offset += n;
        if (n == 0) return ::testing::AssertionSuccess() << offset << " equal bytes";
    }
}

void writeRandomFile(const std::filesystem::path& path, std::size_t size) {
    std::mt19937_64 random(size);
    std::ofstream out(path, std::ios::binary);
    std::vector<std::uint64_t> block(1 << 17);
    for (std::size_t done = 0; done < size;) {
        for (auto& word : block) word = random();
        const std::size_t n = std::min(size - done, block.size() * 8);
        out.write(reinterpret_cast<const char*>(block.data()), static_cast<std::streamsize>(n));
        done += n;
    }
}

class SimSync : public ::testing::Test {
protected:
    void SetUp() override {
        if (!AdbWorld::available()) GTEST_SKIP() << "adb or glasses-sim missing";
        world_ = std::make_unique<AdbWorld>();
    }
    SimulatedGlasses& connected(GlassesOptions options) { return world_->startConnectedGlasses(std::move(options)); }
    CommandResult adb(const SimulatedGlasses& glasses, const std::vector<std::string>& args,
                      std::chrono::milliseconds timeout = 60s) {
        std::vector<std::string> all = {"-s", glasses.wifiSerial()};
        all.insert(all.end(), args.begin(), args.end());
        return world_->adb(all, timeout);
    }
    std::filesystem::path local(const std::string& name) { return world_->root() / name; }
    std::unique_ptr<AdbWorld> world_;
};

TEST_F(SimSync, PullsMediaFilesByteForByteIncludingNamesWithSpaces) {
    SimulatedGlasses& glasses = connected({.bulkCount = 0});
    const std::string remote = "/sdcard/DCIM/Camera/IMG 0001.JPG";
    const CommandResult pull = adb(glasses, {"pull", remote, local("photo.jpg").string()});
    EXPECT_EQ(pull.exitCode, 0) << pull.out << pull.err;
    EXPECT_NE(pull.out.find(remote + ": 1 file pulled"), std::string::npos) << pull.out;
    EXPECT_TRUE(sameBytes(local("photo.jpg"), glasses.hostPath(remote)));

    glasses.makeFile("/sdcard/Download/medium.bin", 300'000);  // several 64 KiB DATA records
    EXPECT_EQ(adb(glasses, {"pull", "/sdcard/Download/medium.bin", local("medium.bin").string()}).exitCode, 0);
    EXPECT_TRUE(sameBytes(local("medium.bin"), glasses.hostPath("/sdcard/Download/medium.bin")));
}

TEST_F(SimSync, LargeRandomPushArrivesWhole) {
    SimulatedGlasses& glasses = connected({.media = false});
    writeRandomFile(local("upload.bin"), 12'000'000);  // hundreds of writes, each acknowledged
    const CommandResult push = adb(glasses, {"push", local("upload.bin").string(), "/sdcard/Download/upload.bin"});
    ASSERT_EQ(push.exitCode, 0) << push.out << push.err;
    EXPECT_NE(push.out.find("1 file pushed"), std::string::npos) << push.out;
    EXPECT_TRUE(sameBytes(local("upload.bin"), glasses.hostPath("/sdcard/Download/upload.bin")));
}

TEST_F(SimSync, MissingAndDeletedFiles) {
    SimulatedGlasses& glasses = connected({.bulkCount = 0});
    const CommandResult missing = adb(glasses, {"pull", "/sdcard/DCIM/Camera/nope.jpg", local("nope.jpg").string()});
    EXPECT_EQ(missing.exitCode, 1);
    EXPECT_NE(missing.out.find("adb: error: failed to stat remote object '/sdcard/DCIM/Camera/nope.jpg': No such "
                               "file or directory"),
              std::string::npos)
        << missing.out;

    glasses.removeFile("/sdcard/DCIM/Camera/IMG_2.jpeg");
    const CommandResult ls = adb(glasses, {"shell", "ls", "-la", "/sdcard/DCIM/Camera/"});
    EXPECT_EQ(ls.out.find("IMG_2.jpeg"), std::string::npos);
    EXPECT_EQ(adb(glasses, {"pull", "/sdcard/DCIM/Camera/IMG_2.jpeg", local("a.jpeg").string()}).exitCode, 1);
}

TEST_F(SimSync, ListingsAndDirectoryPulls) {
    SimulatedGlasses& glasses = connected({.bulkCount = 3000});
    const CommandResult ls = adb(glasses, {"ls", "/sdcard/DCIM/Camera/"});
    EXPECT_EQ(ls.exitCode, 0);
    EXPECT_NE(ls.out.find(" IMG 0001.JPG\n"), std::string::npos) << ls.out;

    const CommandResult bulk = adb(glasses, {"shell", "ls", "-la", "/sdcard/DCIM/Bulk/"});
    EXPECT_EQ(std::count(bulk.out.begin(), bulk.out.end(), '\n'), 3000 + 3);  // total, ., .. and the photos

    const CommandResult album = adb(glasses, {"pull", "/sdcard/DCIM/album", local("album").string()});
    EXPECT_EQ(album.exitCode, 0) << album.out << album.err;
    EXPECT_TRUE(sameBytes(local("album/Summer 2024/Day 1/sunset.jpg"),
                          glasses.hostPath("/sdcard/DCIM/album/Summer 2024/Day 1/sunset.jpg")));
    EXPECT_TRUE(std::filesystem::exists(local("album/cover.png")));
}

TEST_F(SimSync, OldDevicesWithoutStatV2StillPullAndPush) {
    SimulatedGlasses& glasses = connected({.bulkCount = 0, .features = std::vector<std::string>{"shell_v2"}});
    const CommandResult missing = adb(glasses, {"pull", "/sdcard/none.jpg", local("none.jpg").string()});
    EXPECT_EQ(missing.exitCode, 1);
    EXPECT_NE(missing.out.find("remote object '/sdcard/none.jpg' does not exist"), std::string::npos) << missing.out;
    EXPECT_EQ(adb(glasses, {"pull", "/sdcard/DCIM/album/cover.png", local("cover.png").string()}).exitCode, 0);
    EXPECT_TRUE(sameBytes(local("cover.png"), glasses.hostPath("/sdcard/DCIM/album/cover.png")));
    EXPECT_EQ(adb(glasses, {"push", local("cover.png").string(), "/sdcard/Download/new/cover.png"}).exitCode, 0);
    EXPECT_TRUE(sameBytes(local("cover.png"), glasses.hostPath("/sdcard/Download/new/cover.png")));
}

TEST_F(SimSync, TransferCutOffMidwayFailsAndTheGlassesKeepServing) {
    SimulatedGlasses& glasses = connected({.media = false});
    glasses.makeFile("/sdcard/big.bin", 50'000'000);
    glasses.delayReplies(20ms);  // slow enough to cut the transfer in the middle
    auto pull = std::async(std::launch::async, [&] {
        return adb(glasses, {"pull", "/sdcard/big.bin", local("big.bin").string()});
    });
    // Cut only once bytes have arrived, so it is the transfer that is cut, not the request.
    ASSERT_TRUE(waitUntil([&] {
        std::error_code error;
        return std::filesystem::file_size(local("big.bin"), error) > 0 && !error;
    }));
    glasses.drop("wifi", true);
    const CommandResult cut = pull.get();
    EXPECT_NE(cut.exitCode, 0) << cut.out;
    glasses.delayReplies(0ms);
    ASSERT_TRUE(world_->waitForState(glasses.wifiSerial(), "device", 15s));
    EXPECT_EQ(adb(glasses, {"shell", "echo", "alive"}).out, "alive\n");
}

}  // namespace
}  // namespace orvan::testing
