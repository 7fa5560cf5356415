// The installed app's tool lookup, with fake executables: SDK first, then PATH, never a dangling
// link or a file that cannot run.
#include <gtest/gtest.h>

#include <fstream>

#include "foundation/ToolLocation.h"
#include "support/ErrorOf.h"
#include "support/TempDir.h"

namespace orvan {
namespace {

namespace fs = std::filesystem;

struct LookupCase {
    const char* name;
    std::vector<std::string> files;           // "folder/tool"; "@" marks a dangling link, "-" a file that cannot run
    std::string expectedAdb, expectedScrcpy;  // "" = not found
};

class ToolLookup : public ::testing::TestWithParam<LookupCase> {};

TEST_P(ToolLookup, TakesTheFirstRunnableCopy) {
    testing::TempDir root;
    for (std::string file : GetParam().files) {
        char mark = file[0] == '@' || file[0] == '-' ? file[0] : ' ';
        if (mark != ' ') file.erase(0, 1);
        fs::create_directories((root / file).parent_path());
        if (mark == '@')
            fs::create_symlink(root / "gone", root / file);
        else
            std::ofstream(root / file) << "#!/bin/sh\n";
        if (mark == ' ') fs::permissions(root / file, fs::perms::owner_all);
    }
    auto tools =
        ToolLocation::lookUp({(root / "sdk").string(), "", (root / "bin1").string() + "::" + (root / "bin2").string()});
    auto expected = [&](const std::string& file) { return file.empty() ? fs::path() : root / file; };
    EXPECT_EQ(tools.adb, expected(GetParam().expectedAdb));
    EXPECT_EQ(tools.scrcpy, expected(GetParam().expectedScrcpy));
    EXPECT_EQ(tools.searchedFolders,
              (std::vector<fs::path>{root / "sdk/platform-tools", root / "bin1", root / "bin2"}));
    if (!tools.adb.empty()) return;
    const std::string failure = testing::errorOf([&] { tools.checkTools(); });
    EXPECT_TRUE(failure.starts_with("缺少工具文件: adb, scrcpy。已查找: " + (root / "sdk/platform-tools").string() +
                                    "、" + (root / "bin1").string() + "、" + (root / "bin2").string() + "。adb 可通过"))
        << failure;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ToolLookup,
    ::testing::Values(LookupCase{"SdkOverPath",
                                 {"sdk/platform-tools/adb", "bin1/adb", "bin2/scrcpy"},
                                 "sdk/platform-tools/adb",
                                 "bin2/scrcpy"},
                      LookupCase{"PathAlone", {"bin2/adb", "bin2/scrcpy"}, "bin2/adb", "bin2/scrcpy"},
                      LookupCase{"DanglingLinkAndUnrunnableFileAreSkipped",
                                 {"@sdk/platform-tools/adb", "-bin1/adb", "bin2/adb", "bin1/scrcpy"},
                                 "bin2/adb",
                                 "bin1/scrcpy"},
                      LookupCase{"NothingFound", {"-bin1/adb", "@bin2/scrcpy"}, "", ""}),
    [](const auto& param) { return std::string(param.param.name); });

}  // namespace
}  // namespace orvan
