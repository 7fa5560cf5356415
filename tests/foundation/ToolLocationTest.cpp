#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "foundation/ToolLocation.h"
#include "support/ErrorOf.h"
#include "support/TempDir.h"

namespace orvan {
namespace {

namespace fs = std::filesystem;

class ToolLocationTest : public ::testing::Test {
protected:
    void SetUp() override {
        tools_ = ToolLocation::forResources(resources_.path());
        fs::create_directories(tools_.toolFolder);
    }
    std::string failure() {
        return testing::errorOf([&] { tools_.checkTools(); });
    }

    testing::TempDir resources_{"orvan-tools"};
    ToolLocation tools_;
};

// Every missing tool is named, adb first; a present tool passes even unexecutable, but a link to a
// removed one is missing.
TEST_F(ToolLocationTest, NamesEveryMissingToolAdbFirst) {
    EXPECT_EQ(failure(), "缺少工具文件: " + tools_.adb.string() + ", " + tools_.scrcpy.string());
    std::ofstream(tools_.adb) << "";
    fs::permissions(tools_.adb, fs::perms::owner_read);
    fs::create_symlink(resources_ / "gone", tools_.scrcpy);
    EXPECT_EQ(failure(), "缺少工具文件: " + tools_.scrcpy.string());
    fs::remove(tools_.scrcpy);
    std::ofstream(tools_.scrcpy) << "";
    EXPECT_EQ(failure(), "(no failure)");
}

}  // namespace
}  // namespace orvan
