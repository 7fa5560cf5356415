#include <gtest/gtest.h>

#include <fstream>

#include "adb/AdbVersion.h"
#include "support/TempDir.h"

namespace orvan {
namespace {

TEST(AdbVersionLineTest, ReadsTheProtocolNumberOfRealOutputsAndRefusesEverythingElse) {
    EXPECT_EQ(parseAdbProtocolVersion("Android Debug Bridge version 1.0.41\nVersion 29.0.6-debian\n"
                                      "Installed as /usr/lib/android-sdk/platform-tools/adb\n"),
              41);
    EXPECT_EQ(parseAdbProtocolVersion("Android Debug Bridge version 1.0.39\r\nRevision 3db08f2c6889-android\r\n"), 39);
    EXPECT_EQ(parseAdbProtocolVersion("  Android Debug Bridge version 1.0.99  \n"), 99);
    // A wrapper's warning before the line does not hide it.
    EXPECT_EQ(parseAdbProtocolVersion("warning: something odd\nAndroid Debug Bridge version 1.0.40\n"), 40);
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

    // An adb that cannot start has no version (the guard, which never meets one, runs the others).
    testing::TempDir folder;
    EXPECT_EQ(readAdbProtocolVersion(folder / "missing", Seconds(2.0)), std::nullopt);
    std::ofstream(folder / "not-executable") << "Android Debug Bridge version 1.0.43\n";
    EXPECT_EQ(readAdbProtocolVersion(folder / "not-executable", Seconds(2.0)), std::nullopt);
}

}  // namespace
}  // namespace orvan
