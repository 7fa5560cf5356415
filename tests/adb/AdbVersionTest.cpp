#include <gtest/gtest.h>

#include <chrono>
#include <fstream>

#include "adb/AdbVersion.h"
#include "support/TempDir.h"

namespace orvan {
namespace {

namespace fs = std::filesystem;

TEST(AdbVersionLineTest, ReadsTheProtocolNumberOfRealOutputs) {
    EXPECT_EQ(parseAdbProtocolVersion("Android Debug Bridge version 1.0.41\nVersion 29.0.6-debian\n"
                                      "Installed as /usr/lib/android-sdk/platform-tools/adb\n"),
              41);
    EXPECT_EQ(parseAdbProtocolVersion("Android Debug Bridge version 1.0.39\r\nRevision 3db08f2c6889-android\r\n"), 39);
    EXPECT_EQ(parseAdbProtocolVersion("  Android Debug Bridge version 1.0.99  \n"), 99);
    // A wrapper's warning before the line does not hide it.
    EXPECT_EQ(parseAdbProtocolVersion("warning: something odd\nAndroid Debug Bridge version 1.0.40\n"), 40);
}

TEST(AdbVersionLineTest, RefusesEverythingElse) {
    for (const std::string& garbage : std::vector<std::string>{
             "",
             "\n\n",
             "adb: usage: unknown command version",
             "Android Debug Bridge version",
             "Android Debug Bridge version 1.0.",
             "Android Debug Bridge version 1.0.4x",
             "Android Debug Bridge version 1.0.-41",
             "Android Debug Bridge version 1.0.+41",
             "Android Debug Bridge version 1.0. 41",
             "Android Debug Bridge version 2.0.41",
             "Android Debug Bridge version 1.0.41.2",
             "Android Debug Bridge version 1.0.99999999999999999999",
             "android debug bridge version 1.0.41",
             std::string("Android Debug Bridge version 1.0.41\0", 36),
             "\xff\xfe"
             "Android Debug Bridge version 1.0.41",
             // The first such line decides; a bad one is not rescued by a later good one.
             "Android Debug Bridge version 1.0.zz\nAndroid Debug Bridge version 1.0.41",
         }) {
        EXPECT_EQ(parseAdbProtocolVersion(garbage), std::nullopt) << garbage;
    }
}

// `<adb> version` as a child: only a clean run that prints the line counts.
class AdbVersionRunTest : public ::testing::Test {
protected:
    fs::path script(const std::string& name, const std::string& body) {
        fs::path path = folder_ / name;
        std::ofstream(path) << "#!/bin/sh\n" << body << "\n";
        fs::permissions(path, fs::perms::owner_all);
        return path;
    }
    testing::TempDir folder_{"orvan-adbversion"};
};

TEST_F(AdbVersionRunTest, ReadsAChildsVersionOnlyFromACleanRun) {
    auto good = script("good",
                       "[ \"$1\" = version ] || exit 9\necho 'Android Debug Bridge version 1.0.43'\n"
                       "echo 'Version 35.0.2-12147458'");
    EXPECT_EQ(readAdbProtocolVersion(good, Seconds(2.0)), 43);
    EXPECT_EQ(
        readAdbProtocolVersion(script("failing", "echo 'Android Debug Bridge version 1.0.43'; exit 1"), Seconds(2.0)),
        std::nullopt);
    EXPECT_EQ(readAdbProtocolVersion(script("garbage", "printf '\\377\\376\\001'"), Seconds(2.0)), std::nullopt);
    EXPECT_EQ(readAdbProtocolVersion(folder_ / "missing", Seconds(2.0)), std::nullopt);
    fs::path plain = folder_ / "not-executable";
    std::ofstream(plain) << "Android Debug Bridge version 1.0.43\n";
    EXPECT_EQ(readAdbProtocolVersion(plain, Seconds(2.0)), std::nullopt);
}

TEST_F(AdbVersionRunTest, AHangingChildEndsAtTheTimeOut) {
    auto hanging = script("hanging", "exec sleep 30");
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(readAdbProtocolVersion(hanging, Seconds(0.3)), std::nullopt);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));  // not the 30 s hang
}

}  // namespace
}  // namespace orvan
