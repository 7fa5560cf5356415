#include <gtest/gtest.h>

#include <fstream>

#include "mirror/ScrcpyCommandLine.h"
#include "mirror/ScrcpyLauncher.h"
#include "support/TempDir.h"

namespace orvan {
namespace {

using Arguments = std::vector<std::string>;

TEST(ScrcpyCommandLine, ArgumentsInOrder) {
    EXPECT_EQ(scrcpyArguments({"10.0.0.5:5555", false, true, AdbServerScope::sharedDevelopment}),
              (Arguments{"-s", "10.0.0.5:5555"}));
    EXPECT_EQ(scrcpyArguments({"SER1", false, false, AdbServerScope::sharedDevelopment}),
              (Arguments{"-s", "SER1", "--no-audio"}));
    EXPECT_EQ(scrcpyArguments({"SER1", true, false, AdbServerScope::privateMirroring}),
              (Arguments{"-s", "SER1", "--no-audio", "--window-title", "Orvan Glass Shell", "--window-width=720",
                         "--window-height=720", "--window-borderless", "--always-on-top"}));
    EXPECT_EQ(scrcpyArguments({"SER1", true, true, AdbServerScope::sharedDevelopment}).at(2), "--window-title");
}

TEST(ScrcpyCommandLine, KeysAndIdentities) {
    EXPECT_EQ(scrcpyProcessKey("10.0.0.5:5555", false), "10.0.0.5:5555");
    EXPECT_EQ(scrcpyProcessKey("10.0.0.5:5555", true), "10.0.0.5:5555#glass-shell");
    EXPECT_EQ(defaultMirrorIdentity("ABCdef:5555"), "target:abcdef:5555");
}

TEST(ScrcpyCommandLine, EnvironmentFollowsTheServerScope) {
    testing::TempDir folder("orvan-scrcpy-spec");
    auto tools = ToolLocation::inToolFolder(folder.path());

    auto shared =
        scrcpyProcessSpec(tools, 15999, {"T", false, true, AdbServerScope::sharedDevelopment}, "/usr/bin:/bin");
    EXPECT_EQ(shared.executable, (folder.path() / "scrcpy").string());
    EXPECT_EQ(shared.workingDirectory, folder.path().string());
    EXPECT_EQ(shared.environmentChanges.at("ADB"), (folder.path() / "adb").string());
    EXPECT_EQ(shared.environmentChanges.at("PATH"), folder.path().string() + ":/usr/bin:/bin");
    ASSERT_TRUE(shared.environmentChanges.contains("ADB_SERVER_SOCKET"));
    EXPECT_EQ(shared.environmentChanges.at("ADB_SERVER_SOCKET"), std::nullopt);  // removed, not inherited
    EXPECT_FALSE(shared.environmentChanges.contains("SCRCPY_SERVER_PATH"));      // no server file

    std::ofstream(folder / "scrcpy-server") << "x";
    auto priv = scrcpyProcessSpec(tools, 15999, {"T", false, true, AdbServerScope::privateMirroring}, std::nullopt);
    EXPECT_EQ(priv.environmentChanges.at("ADB_SERVER_SOCKET"), "tcp:127.0.0.1:15999");
    EXPECT_EQ(priv.environmentChanges.at("PATH"), folder.path().string() + ":");
    EXPECT_EQ(priv.environmentChanges.at("SCRCPY_SERVER_PATH"), (folder.path() / "scrcpy-server").string());

    // The shared server of another adb version is talked to with that version's client.
    auto followed = scrcpyProcessSpec(tools, 15999, {"T", false, true, AdbServerScope::sharedDevelopment}, "/bin",
                                      std::filesystem::path("/opt/sdk/platform-tools/adb"));
    EXPECT_EQ(followed.environmentChanges.at("ADB"), "/opt/sdk/platform-tools/adb");
    EXPECT_EQ(followed.environmentChanges.at("PATH"), folder.path().string() + ":/bin");
}

TEST(ScrcpyWindow, OnlyAnOrdinaryWindowLargerThan80By80OfThePidCounts) {
    WindowInfo window{1, 4242, 0, 0, 81, 81, 0};
    EXPECT_TRUE(hasVisibleScrcpyWindow(window, 4242));
    EXPECT_FALSE(hasVisibleScrcpyWindow(window, 4243));
    EXPECT_FALSE(hasVisibleScrcpyWindow(WindowInfo{1, 4242, 0, 0, 80, 81, 0}, 4242));
    EXPECT_FALSE(hasVisibleScrcpyWindow(WindowInfo{1, 4242, 0, 0, 81, 80, 0}, 4242));
    EXPECT_FALSE(hasVisibleScrcpyWindow(WindowInfo{1, 4242, 0, 0, 720, 720, 3}, 4242));  // kept above
    EXPECT_FALSE(hasVisibleScrcpyWindow(WindowInfo{1, 0, 0, 0, 720, 720, 0}, 0));        // owner unknown
}

}  // namespace
}  // namespace orvan
