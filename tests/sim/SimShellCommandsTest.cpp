#include <gtest/gtest.h>
#include <sys/stat.h>

#include <regex>
#include <sstream>

#include "glasses-sim/DeviceStorage.h"
#include "glasses-sim/MediaTree.h"
#include "glasses-sim/ShellCommands.h"
#include "support/TempDir.h"

namespace orvan::sim {
namespace {

class SimShellCommands : public ::testing::Test {
protected:
    SimShellCommands() {
        prepareStorageRoot(dir_.path().string());
        storage_ = std::make_unique<DeviceStorage>(dir_.path().string());
        env_.properties = {{"ro.product.model", "Tervo3"}, {"ro.serialno", "TV3SIM0001"}};
        env_.wlanAddress = "127.40.1.2";
        env_.ssid = "Office Net";
        env_.storage = storage_.get();
    }
    ShellResult run(const std::string& command) { return runShellCommand(command, env_); }

    testing::TempDir dir_;
    std::unique_ptr<DeviceStorage> storage_;
    ShellEnvironment env_;
};

TEST_F(SimShellCommands, GetpropAnswersKnownAndUnknownProperties) {
    EXPECT_EQ(run("getprop ro.product.model").out, "Tervo3\n");
    const ShellResult unknown = run("getprop ro.no.such");
    EXPECT_EQ(unknown.out, "\n");  // an unset property prints an empty line, status 0
    EXPECT_EQ(unknown.exitCode, 0);
    EXPECT_NE(run("getprop").out.find("[ro.serialno]: [TV3SIM0001]"), std::string::npos);
}

TEST_F(SimShellCommands, EchoJoinsWordsAfterQuoteRemoval) {
    EXPECT_EQ(run("echo __ORVAN_MIRROR_ADB_READY__").out, "__ORVAN_MIRROR_ADB_READY__\n");
    EXPECT_EQ(run("echo 'a  b' c").out, "a  b c\n");
    EXPECT_EQ(run("echo -n x").out, "x");
}

TEST_F(SimShellCommands, IpAddrShowsTheWlanAddressInAnIndentedInetLine) {
    const ShellResult result = run("ip addr show wlan0");
    EXPECT_EQ(result.exitCode, 0);
    EXPECT_NE(result.out.find("\n    inet 127.40.1.2/24 brd 127.40.1.255 scope global wlan0\n"), std::string::npos);
    EXPECT_NE(result.out.find("inet6 "), std::string::npos);

    env_.wlanAddress.reset();
    const ShellResult down = run("ip addr show wlan0");
    EXPECT_EQ(down.out.find("inet "), std::string::npos);
    EXPECT_NE(down.out.find("state DOWN"), std::string::npos);

    const ShellResult missing = run("ip addr show eth0");
    EXPECT_EQ(missing.exitCode, 1);
    EXPECT_EQ(missing.err, "Device \"eth0\" does not exist.\n");
}

TEST_F(SimShellCommands, WifiStatusCarriesTheQuotedSsidBeforeAComma) {
    const ShellResult status = run("cmd wifi status");
    EXPECT_EQ(status.exitCode, 0);
    EXPECT_NE(status.out.find("SSID: \"Office Net\", BSSID:"), std::string::npos);

    env_.cmdWifi = CmdWifiMode::unknownSsid;
    EXPECT_NE(run("cmd wifi status").out.find("SSID: <unknown ssid>,"), std::string::npos);
    EXPECT_NE(run("dumpsys wifi").out.find("mWifiInfo SSID: \"Office Net\","), std::string::npos);

    env_.cmdWifi = CmdWifiMode::unsupported;
    EXPECT_NE(run("cmd wifi status").exitCode, 0);

    env_.ssid.reset();
    EXPECT_NE(run("dumpsys wifi").out.find("SSID: <unknown ssid>"), std::string::npos);
}

TEST_F(SimShellCommands, UnknownCommandIsNotFoundWithStatus127) {
    const ShellResult result = run("frobnicate --now");
    EXPECT_EQ(result.exitCode, 127);
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(result.err, "/system/bin/sh: frobnicate: inaccessible or not found\n");
}

TEST_F(SimShellCommands, ExitFalseAndSleepGiveStatusesAndDelays) {
    EXPECT_EQ(run("exit 3").exitCode, 3);
    EXPECT_EQ(run("false").exitCode, 1);
    EXPECT_EQ(run("sleep 1.5").delay, std::chrono::milliseconds(1500));
}

TEST_F(SimShellCommands, LsLongListingHasEightFieldsAndAlignedColumns) {
    ASSERT_EQ(storage_->writeWholeFile("/sdcard/DCIM/Camera/IMG 0001.JPG", std::string(2048, 'x'), 1714557600), 0);
    ASSERT_EQ(storage_->writeWholeFile("/sdcard/DCIM/Camera/a.jpg", "12345", 1714557660), 0);
    ASSERT_EQ(storage_->makeDirectories("/sdcard/DCIM/Camera/Sub Dir"), 0);
    const ShellResult result = run("ls -la /sdcard/DCIM/Camera/");
    ASSERT_EQ(result.exitCode, 0) << result.err;
    std::istringstream lines(result.out);
    std::string line;
    std::getline(lines, line);
    EXPECT_TRUE(std::regex_match(line, std::regex("total [0-9]+")));
    std::map<std::string, std::string> byName;
    const std::regex row(R"(([-dl][-rwxsStT]{9}) +([0-9]+) +(\S+) +(\S+) +([0-9]+) (\d{4}-\d\d-\d\d \d\d:\d\d) (.+))");
    std::size_t width = 0;
    while (std::getline(lines, line)) {
        std::smatch match;
        ASSERT_TRUE(std::regex_match(line, match, row)) << line;
        byName[match[7]] = line;
        // Size column right-aligned: the date starts at the same column in every row.
        const std::size_t dateAt = static_cast<std::size_t>(match.position(6));
        if (width == 0) width = dateAt;
        EXPECT_EQ(dateAt, width) << line;
    }
    EXPECT_EQ(byName.size(), 5u);  // . .. and three entries
    ASSERT_TRUE(byName.count("IMG 0001.JPG"));
    EXPECT_TRUE(byName["IMG 0001.JPG"].starts_with("-rw-r-----"));
    EXPECT_NE(byName["IMG 0001.JPG"].find(" 2048 2024-05-01 10:00 IMG 0001.JPG"), std::string::npos);
    ASSERT_TRUE(byName.count("Sub Dir"));
    EXPECT_EQ(byName["Sub Dir"][0], 'd');
}

TEST_F(SimShellCommands, LsWithoutTrailingSlashShowsTheSdcardLinkItself) {
    const ShellResult link = run("ls -la /sdcard");
    EXPECT_EQ(link.exitCode, 0);
    EXPECT_TRUE(link.out.starts_with("lrwxrwxrwx")) << link.out;
    EXPECT_NE(link.out.find("/sdcard -> /storage/emulated/0"), std::string::npos);
    const ShellResult through = run("ls -la /sdcard/");
    EXPECT_TRUE(through.out.starts_with("total ")) << through.out;
}

TEST_F(SimShellCommands, LsOfAMissingDirectoryFailsOnStderr) {
    const ShellResult result = run("ls -la /sdcard/Pictures/album/");
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(result.err, "ls: /sdcard/Pictures/album/: No such file or directory\n");
}

TEST_F(SimShellCommands, MediaTreeHasTheNamesAndKindsTestsRelyOn) {
    createMediaTree(*storage_, "/sdcard/DCIM/Bulk", 1500);
    const ShellResult camera = run("ls -la /sdcard/DCIM/Camera/");
    for (const char* name : {"IMG 0001.JPG", "Trip Video.MP4", "burst.HEIC", "notes.txt", "IMG_2.jpeg", "IMG_10.jpg"}) {
        EXPECT_NE(camera.out.find(std::string(" ") + name + "\n"), std::string::npos) << name;
    }
    EXPECT_NE(run("ls -la '/sdcard/DCIM/album/Summer 2024/Day 1/'").out.find(" sunset.jpg\n"), std::string::npos);
    EXPECT_EQ(run("ls -la /sdcard/Pictures/album/").exitCode, 1);  // a default folder that does not exist
    const ShellResult bulk = run("ls /sdcard/DCIM/Bulk/");
    EXPECT_EQ(std::count(bulk.out.begin(), bulk.out.end(), '\n'), 1500);

    // The photos and videos are real files of their kind.
    FileInfo info;
    ASSERT_EQ(storage_->stat("/sdcard/DCIM/Camera/IMG 0001.JPG", true, info), 0);
    const ShellResult jpeg = run("cat '/sdcard/DCIM/Camera/IMG 0001.JPG'");
    EXPECT_EQ(jpeg.out.substr(0, 3), "\xff\xd8\xff");
    EXPECT_EQ(run("cat /sdcard/DCIM/album/cover.png").out.substr(1, 3), "PNG");
    EXPECT_EQ(run("cat /sdcard/Movies/Camera/VID_1.mp4").out.substr(4, 8), "ftypisom");
}

TEST_F(SimShellCommands, StorageNeverReachesOutsideItsRoot) {
    FileInfo info;
    EXPECT_EQ(storage_->stat("/../../../etc/passwd", true, info), ENOENT);
    ASSERT_EQ(::symlink("/etc", (dir_.path() / "escape").c_str()), 0);
    // An absolute link is resolved inside the root, where there is no /etc.
    EXPECT_EQ(storage_->stat("/escape/passwd", true, info), ENOENT);
    EXPECT_EQ(normalizeDevicePath("/a//b/./c/../d/"), "/a/b/d");
    EXPECT_EQ(normalizeDevicePath("/../.."), "/");
}

}  // namespace
}  // namespace orvan::sim
