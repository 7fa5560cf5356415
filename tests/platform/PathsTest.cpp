#include <gtest/gtest.h>

#include "platform/Paths.h"
#include "support/ScopedEnvironment.h"

namespace orvan {
namespace {

TEST(Paths, UsesAbsoluteXdgFoldersAndIgnoresRelativeOnes) {
    testing::ScopedEnvironment environment;
    environment.set("HOME", "/tmp/orvan-home");  // only named, never created
    environment.set("XDG_STATE_HOME", "/tmp/orvan-state");
    environment.set("XDG_DATA_HOME", "relative/data");
    environment.set("XDG_CACHE_HOME", "");
    EXPECT_EQ(paths::appStateFolder(), "/tmp/orvan-state/OrvanMirror");
    EXPECT_EQ(paths::appDataFolder(), "/tmp/orvan-home/.local/share/OrvanMirror");
    EXPECT_EQ(paths::appCacheFolder(), "/tmp/orvan-home/.cache/OrvanMirror");
    environment.unset("XDG_STATE_HOME");
    EXPECT_EQ(paths::appStateFolder(), "/tmp/orvan-home/.local/state/OrvanMirror");
}

}  // namespace
}  // namespace orvan
