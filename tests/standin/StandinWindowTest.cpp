// The stand-in's window under a private Xvfb: it is listed by the time the readiness line comes,
// which the launcher's readiness and the window raise rely on.

#include <gtest/gtest.h>

#include "XvfbDisplay.h"
#include "platform/X11WindowSystem.h"
#include "standin/StandinHarness.h"

namespace orvan::testing {
namespace {

using namespace std::chrono_literals;

class StandinWindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!XvfbDisplay::serverAvailable()) GTEST_SKIP() << "Xvfb is not installed";
        display_ = std::make_unique<XvfbDisplay>();
        windows_ = std::make_unique<X11WindowSystem>(display_->name());
    }

    std::unique_ptr<RunningChild> start(std::map<std::string, std::optional<std::string>> environment) {
        environment.emplace("DISPLAY", display_->name());
        environment.emplace("ORVAN_STANDIN_LOG", (temp_.path() / "standin.jsonl").string());
        return std::make_unique<RunningChild>(
            standinSpec(adb_.path(), temp_.path(), {"-s", "SIMGLASSES01", "--window-title", "Glasses"}, environment));
    }

    std::vector<WindowInfo> windowsOf(pid_t pid) {
        auto all = windows_->visibleTopLevelWindows();
        std::erase_if(all, [pid](const WindowInfo& window) { return window.pid != pid; });
        return all;
    }

    TempDir temp_;
    ScriptedAdb adb_{temp_.path()};
    std::unique_ptr<XvfbDisplay> display_;
    std::unique_ptr<X11WindowSystem> windows_;
};

TEST_F(StandinWindowTest, TheTextureLineComesOnlyOnceTheWindowIsListed) {
    // Ready means ready: whoever sees the line and then lists windows finds this one.
    for (int run = 0; run < 3; ++run) {
        auto standin = start({{"ORVAN_STANDIN_DELAY_MS", "0"}, {"ORVAN_STANDIN_WINDOW", "120x90"}});
        ASSERT_TRUE(standin->waitForOutput("INFO: Texture:", 20s)) << standin->output();
        EXPECT_EQ(windowsOf(standin->pid()).size(), 1U) << "run " << run;
    }
}

}  // namespace
}  // namespace orvan::testing
