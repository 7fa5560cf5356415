// The simulator's storage is a folder of the test's own; no device path may lead out of it,
// or a test pushing to a crafted path would write into the developer's files.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>

#include "glasses-sim/DeviceStorage.h"
#include "glasses-sim/MediaTree.h"
#include "support/TempDir.h"

namespace orvan::sim {
namespace {

TEST(SimStorage, NeverReachesOutsideItsRoot) {
    testing::TempDir dir;
    prepareStorageRoot(dir.path().string());
    DeviceStorage storage(dir.path().string());
    FileInfo info;
    EXPECT_EQ(storage.stat("/../../../etc/passwd", true, info), ENOENT);
    ASSERT_EQ(::symlink("/etc", (dir.path() / "escape").c_str()), 0);
    // An absolute link is resolved inside the root, where there is no /etc.
    EXPECT_EQ(storage.stat("/escape/passwd", true, info), ENOENT);
    EXPECT_EQ(normalizeDevicePath("/a//b/./c/../d/"), "/a/b/d");
    EXPECT_EQ(normalizeDevicePath("/../.."), "/");
}

}  // namespace
}  // namespace orvan::sim
