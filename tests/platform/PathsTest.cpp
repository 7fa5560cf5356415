#include <gtest/gtest.h>

#include <cstdlib>

#include "platform/Paths.h"

namespace orvan {
namespace {

class ScopedEnv {
public:
    ScopedEnv(const char* name, const char* value) : name_(name) {
        if (const char* old = std::getenv(name)) old_ = old;
        if (value) setenv(name, value, 1);
        else unsetenv(name);
    }
    ~ScopedEnv() {
        if (old_) setenv(name_, old_->c_str(), 1);
        else unsetenv(name_);
    }

private:
    const char* name_;
    std::optional<std::string> old_;
};

TEST(Paths, UsesAbsoluteXdgFoldersAndIgnoresRelativeOnes) {
    ScopedEnv home("HOME", "/tmp/orvan-home");
    {
        ScopedEnv state("XDG_STATE_HOME", "/tmp/orvan-state");
        ScopedEnv data("XDG_DATA_HOME", "relative/data");
        ScopedEnv cache("XDG_CACHE_HOME", "");
        EXPECT_EQ(paths::appStateFolder(), "/tmp/orvan-state/OrvanMirror");
        EXPECT_EQ(paths::appDataFolder(), "/tmp/orvan-home/.local/share/OrvanMirror");
        EXPECT_EQ(paths::appCacheFolder(), "/tmp/orvan-home/.cache/OrvanMirror");
    }
    ScopedEnv state("XDG_STATE_HOME", nullptr);
    EXPECT_EQ(paths::appStateFolder(), "/tmp/orvan-home/.local/state/OrvanMirror");
}

TEST(Paths, NamesTheMachineArchitecture) {
    auto arch = paths::machineArchitecture();
    EXPECT_FALSE(arch.empty());
    EXPECT_EQ(arch.find('/'), std::string::npos);
}

}  // namespace
}  // namespace orvan
