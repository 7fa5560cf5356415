#include <gtest/gtest.h>

#include <fstream>

#include "mirror/ScrcpyCommandLine.h"
#include "mirror/ScrcpyLauncher.h"
#include "support/TempDir.h"

namespace orvan {
namespace {

using Arguments = std::vector<std::string>;

TEST(ScrcpyCommandLine, ArgumentsInOrderVersionsAndWhichWindowsCount) {
    EXPECT_EQ(scrcpyArguments({"10.0.0.5:5555", false, true, AdbServerScope::sharedDevelopment}),
              (Arguments{"-s", "10.0.0.5:5555"}));
    EXPECT_EQ(scrcpyArguments({"SER1", false, false, AdbServerScope::sharedDevelopment}),
              (Arguments{"-s", "SER1", "--no-audio"}));
    EXPECT_EQ(scrcpyArguments({"SER1", true, false, AdbServerScope::privateMirroring}),
              (Arguments{"-s", "SER1", "--no-audio", "--window-title", "Orvan Glass Shell", "--window-width=720",
                         "--window-height=720", "--window-borderless", "--always-on-top"}));
    EXPECT_EQ(scrcpyArguments({"SER1", true, true, AdbServerScope::sharedDevelopment}).at(2), "--window-title");
    // 1.x has no "--no-audio" (and forwards no sound); 2.0 brought it.
    EXPECT_EQ(
        scrcpyArguments({"SER1", false, false, AdbServerScope::sharedDevelopment, ScrcpyVersion{1, 25, 0, "1.25"}}),
        (Arguments{"-s", "SER1"}));
    EXPECT_EQ(scrcpyArguments({"SER1", false, false, AdbServerScope::sharedDevelopment, ScrcpyVersion{2, 0, 0, "2.0"}}),
              (Arguments{"-s", "SER1", "--no-audio"}));
    // The keys of the windows are ScrcpyLauncherTest's; the default identity is lower case.
    EXPECT_EQ(defaultMirrorIdentity("ABCdef:5555"), "target:abcdef:5555");

    // The version is the first line of the client's output; only an ordinary window over 80x80 counts.
    using Version = std::optional<ScrcpyVersion>;
    EXPECT_EQ(parseScrcpyVersion("scrcpy 3.3.4 <https://github.com/Genymobile/scrcpy>\n\nDependencies"),
              (Version{{3, 3, 4, "3.3.4"}}));
    EXPECT_EQ(parseScrcpyVersion("\nscrcpy 1.25 <https://github.com/Genymobile/scrcpy>"),
              (Version{{1, 25, 0, "1.25"}}));
    EXPECT_EQ(parseScrcpyVersion("scrcpy v2.7-rc1"), (Version{{2, 7, 0, "2.7-rc1"}}));
    for (const char* silent : {"", "Usage: scrcpy", "scrcpy", "scrcpy <https://x>", "something 3.3"})
        EXPECT_EQ(parseScrcpyVersion(silent), std::nullopt) << silent;
    EXPECT_LT((ScrcpyVersion{1, 24, 0, ""}), kOldestSupportedScrcpy);
    EXPECT_GT((ScrcpyVersion{1, 25, 1, ""}), kOldestSupportedScrcpy);

    WindowInfo window{1, 4242, 0, 0, 81, 81, 0};
    EXPECT_TRUE(hasVisibleScrcpyWindow(window, 4242));
    EXPECT_FALSE(hasVisibleScrcpyWindow(window, 4243));
    EXPECT_FALSE(hasVisibleScrcpyWindow(WindowInfo{1, 4242, 0, 0, 80, 81, 0}, 4242));
    EXPECT_FALSE(hasVisibleScrcpyWindow(WindowInfo{1, 4242, 0, 0, 81, 80, 0}, 4242));
    EXPECT_FALSE(hasVisibleScrcpyWindow(WindowInfo{1, 4242, 0, 0, 720, 720, 3}, 4242));  // kept above
    EXPECT_FALSE(hasVisibleScrcpyWindow(WindowInfo{1, 4242, 0, 0, 720, 720, 1}, 4242));
    EXPECT_TRUE(hasVisibleScrcpyWindow(WindowInfo{1, 4242, 0, 0, 720, 720, 1}, 4242, true));  // asked on top
    EXPECT_FALSE(hasVisibleScrcpyWindow(WindowInfo{1, 0, 0, 0, 720, 720, 0}, 0));             // owner unknown
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

    EXPECT_TRUE(shared.outputOnTerminal);

    // The server file that belongs to the client is the one beside its real path: a link in the
    // tool folder to some other scrcpy-server is not handed on.
    testing::TempDir release("orvan-scrcpy-release");
    std::ofstream(release / "scrcpy") << "x";
    std::filesystem::create_symlink(release / "scrcpy", folder / "scrcpy");
    std::ofstream(folder / "scrcpy-server") << "x";
    auto priv = scrcpyProcessSpec(tools, 15999, {"T", false, true, AdbServerScope::privateMirroring}, std::nullopt);
    EXPECT_EQ(priv.environmentChanges.at("ADB_SERVER_SOCKET"), "tcp:127.0.0.1:15999");
    EXPECT_EQ(priv.environmentChanges.at("PATH"), folder.path().string() + ":");
    EXPECT_FALSE(priv.environmentChanges.contains("SCRCPY_SERVER_PATH"));
    std::ofstream(release / "scrcpy-server") << "x";
    priv = scrcpyProcessSpec(tools, 15999, {"T", false, true, AdbServerScope::privateMirroring}, std::nullopt);
    EXPECT_EQ(priv.environmentChanges.at("SCRCPY_SERVER_PATH"), (release.path() / "scrcpy-server").string());

    // The shared server of another adb version is talked to with that version's client.
    auto followed = scrcpyProcessSpec(tools, 15999, {"T", false, true, AdbServerScope::sharedDevelopment}, "/bin",
                                      std::filesystem::path("/opt/sdk/platform-tools/adb"));
    EXPECT_EQ(followed.environmentChanges.at("ADB"), "/opt/sdk/platform-tools/adb");
    EXPECT_EQ(followed.environmentChanges.at("PATH"), folder.path().string() + ":/bin");
}

}  // namespace
}  // namespace orvan
