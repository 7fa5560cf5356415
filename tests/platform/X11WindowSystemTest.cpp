// The X11 window seam against a real X server (Xvfb), with and without a window manager, and
// the scrcpy stand-in as the window owner the app cares about; and the compositor probe, to which
// a client owning _NET_WM_CM_S0 is what a compositing manager looks like.

#include <gtest/gtest.h>
#include <unistd.h>
#include <xcb/xcb.h>

#include <algorithm>
#include <cstdlib>
#include <nlohmann/json.hpp>

#include "XvfbDisplay.h"
#include "platform/X11CompositorProbe.h"
#include "platform/X11WindowSystem.h"
#include "standin/StandinHarness.h"
#include "support/FakeAdb.h"
#include "support/ScopedEnvironment.h"
#include "support/Wait.h"

namespace orvan {
namespace {

using testing::RunningChild;
using testing::TempDir;
using testing::XvfbDisplay;
using namespace std::chrono_literals;

std::vector<WindowInfo> windowsOf(WindowSystem& system, pid_t pid) {
    auto windows = system.visibleTopLevelWindows();
    std::erase_if(windows, [pid](const WindowInfo& window) { return window.pid != pid; });
    return windows;
}

// A window made by the test process itself, on its own connection.
class TestWindow {
public:
    struct Options {
        std::optional<std::uint32_t> netWmPid;  // none: the property is not set
        bool map = true;
        bool overrideRedirect = false;
        int x = 50, y = 60, width = 150, height = 120;
        std::string ownsSelection = {};  // as a compositor takes _NET_WM_CM_S0
    };

    TestWindow(const std::string& display, const Options& options)
        : connection_(xcb_connect(display.c_str(), nullptr)) {
        if (xcb_connection_has_error(connection_) != 0) throw std::runtime_error("cannot connect to " + display);
        const xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(connection_)).data;
        id_ = xcb_generate_id(connection_);
        const std::uint32_t values[] = {screen->white_pixel, options.overrideRedirect ? 1U : 0U,
                                        XCB_EVENT_MASK_STRUCTURE_NOTIFY};
        xcb_create_window(connection_, XCB_COPY_FROM_PARENT, id_, screen->root, static_cast<std::int16_t>(options.x),
                          static_cast<std::int16_t>(options.y), static_cast<std::uint16_t>(options.width),
                          static_cast<std::uint16_t>(options.height), 0, XCB_WINDOW_CLASS_INPUT_OUTPUT,
                          screen->root_visual, XCB_CW_BACK_PIXEL | XCB_CW_OVERRIDE_REDIRECT | XCB_CW_EVENT_MASK,
                          values);
        if (options.netWmPid) {
            xcb_change_property(connection_, XCB_PROP_MODE_REPLACE, id_, atom("_NET_WM_PID"), XCB_ATOM_CARDINAL, 32, 1,
                                &*options.netWmPid);
        }
        if (!options.ownsSelection.empty())
            xcb_set_selection_owner(connection_, id_, atom(options.ownsSelection), XCB_CURRENT_TIME);
        if (options.map) {
            xcb_map_window(connection_, id_);
            waitForMap();
        }
        // A round trip, so the server has acted on everything before the test looks.
        std::free(xcb_get_input_focus_reply(connection_, xcb_get_input_focus(connection_), nullptr));
    }
    ~TestWindow() { xcb_disconnect(connection_); }
    TestWindow(const TestWindow&) = delete;
    TestWindow& operator=(const TestWindow&) = delete;

    std::uint32_t id() const { return id_; }

private:
    xcb_atom_t atom(const std::string& name) {
        auto* reply = xcb_intern_atom_reply(
            connection_, xcb_intern_atom(connection_, 0, static_cast<std::uint16_t>(name.size()), name.c_str()),
            nullptr);
        const xcb_atom_t atom = reply->atom;
        std::free(reply);
        return atom;
    }
    void waitForMap() {
        xcb_flush(connection_);
        testing::waitUntil([&] {
            bool mapped = false;
            while (xcb_generic_event_t* event = xcb_poll_for_event(connection_)) {
                mapped = mapped || (event->response_type & 0x7F) == XCB_MAP_NOTIFY;
                std::free(event);
            }
            return mapped;
        });
    }

    xcb_connection_t* connection_;
    xcb_window_t id_ = XCB_NONE;
};

class X11WindowSystemTest : public ::testing::TestWithParam<bool> {
protected:
    void SetUp() override {
        if (!XvfbDisplay::serverAvailable()) GTEST_SKIP() << "Xvfb is not installed";
        if (GetParam() && !XvfbDisplay::windowManagerAvailable()) GTEST_SKIP() << "openbox is not installed";
        adb_.on({"**"}).reply("device\n");  // the stand-in's check of its target
        display_ = std::make_unique<XvfbDisplay>(GetParam());
        windows_ = std::make_unique<X11WindowSystem>(display_->name());
    }

    bool withWindowManager() const { return GetParam(); }

    // A stand-in that is ready (window mapped) once this returns.
    std::unique_ptr<RunningChild> startStandin(const std::string& geometry,
                                               std::vector<std::string> extraArguments = {}) {
        std::vector<std::string> arguments{"-s", "SIMGLASSES01", "--no-audio"};
        arguments.insert(arguments.end(), extraArguments.begin(), extraArguments.end());
        auto child = std::make_unique<RunningChild>(
            testing::standinSpec(adb_.adbPath(), temp_.path(), arguments,
                                 {{"DISPLAY", display_->name()},
                                  {"ORVAN_STANDIN_WINDOW", geometry},
                                  {"ORVAN_STANDIN_DELAY_MS", "0"},
                                  {"ORVAN_STANDIN_LOG", (temp_.path() / "standin.jsonl").string()}}));
        EXPECT_TRUE(child->waitForOutput("INFO: Texture: 1280x720", 20s)) << child->output();
        return child;
    }

    std::uint32_t loggedWindowId(pid_t pid) const {
        for (const auto& line : testing::logLines(temp_.path() / "standin.jsonl")) {
            const auto entry = nlohmann::json::parse(line);
            if (entry["event"] == "window" && entry["pid"] == pid) return entry["id"].get<std::uint32_t>();
        }
        return 0;
    }

    TempDir temp_;
    testing::FakeAdb adb_;
    std::unique_ptr<XvfbDisplay> display_;
    std::unique_ptr<X11WindowSystem> windows_;
};

TEST_P(X11WindowSystemTest, ListsTheStandinWindowWithItsPidSizeAndLayer) {
    auto standin = startStandin("200x100+50+60");
    // A window manager may list the window before it has applied the asked-for size.
    ASSERT_TRUE(testing::waitUntil([&] {
        auto listed = windowsOf(*windows_, standin->pid());
        return listed.size() == 1 && listed.front().width == 200;
    }));

    const auto window = windowsOf(*windows_, standin->pid()).front();
    EXPECT_EQ(window.windowId, loggedWindowId(standin->pid()));
    EXPECT_EQ(window.width, 200);
    EXPECT_EQ(window.height, 100);
    EXPECT_EQ(window.layer, 0);
    if (withWindowManager()) {
        // The frame moves the client area, but it stays on screen.
        EXPECT_GE(window.x, 0);
        EXPECT_GE(window.y, 0);
    } else {
        EXPECT_EQ(window.x, 50);
        EXPECT_EQ(window.y, 60);
    }

    // Once it is gone, so is its window.
    standin->child().terminate();
    ASSERT_TRUE(standin->waitForExit(20s));
    EXPECT_TRUE(testing::waitUntil([&] { return windowsOf(*windows_, standin->pid()).empty(); }));

    auto onTop = startStandin("720x720+0+0", {"--window-borderless", "--always-on-top"});
    ASSERT_TRUE(testing::waitUntil([&] { return windowsOf(*windows_, onTop->pid()).size() == 1; }));
    EXPECT_GT(windowsOf(*windows_, onTop->pid()).front().layer, 0) << "always on top is above layer 0";
}

TEST_P(X11WindowSystemTest, AttributesEachWindowToItsOwnerAndRaisesOnlyAProcessThatHasOne) {
    auto standin = startStandin("200x100+300+300");
    const TestWindow withPid(display_->name(), {.netWmPid = static_cast<std::uint32_t>(::getpid())});
    // No _NET_WM_PID at all: the X server still knows which local client made it.
    const TestWindow withoutPid(display_->name(), {.netWmPid = std::nullopt, .x = 500, .y = 100});
    const TestWindow unmapped(display_->name(), {.netWmPid = static_cast<std::uint32_t>(standin->pid()), .map = false});
    const TestWindow popup(display_->name(),
                           {.netWmPid = static_cast<std::uint32_t>(::getpid()), .overrideRedirect = true});

    ASSERT_TRUE(testing::waitUntil([&] { return windowsOf(*windows_, ::getpid()).size() == 2; }))
        << "windows of the test process: " << windowsOf(*windows_, ::getpid()).size();
    const auto all = windows_->visibleTopLevelWindows();
    auto find = [&](std::uint32_t id) {
        return std::find_if(all.begin(), all.end(), [id](const WindowInfo& window) { return window.windowId == id; });
    };
    ASSERT_NE(find(withPid.id()), all.end());
    EXPECT_EQ(find(withPid.id())->pid, ::getpid());
    ASSERT_NE(find(withoutPid.id()), all.end());
    EXPECT_EQ(find(withoutPid.id())->pid, ::getpid());
    EXPECT_EQ(find(unmapped.id()), all.end()) << "an unmapped window is not on screen";
    EXPECT_EQ(find(popup.id()), all.end()) << "an override-redirect popup is no top-level window";
    EXPECT_EQ(windowsOf(*windows_, standin->pid()).size(), 1U);
    EXPECT_TRUE(windowsOf(*windows_, 999'999'999).empty());

    const TestWindow cover(
        display_->name(),
        {.netWmPid = static_cast<std::uint32_t>(::getpid()), .x = 80, .y = 80, .width = 300, .height = 300});
    ASSERT_TRUE(testing::waitUntil([&] {
        const auto listed = windows_->visibleTopLevelWindows();
        return !listed.empty() && listed.front().windowId == cover.id();
    })) << "the window mapped last starts in front";

    EXPECT_TRUE(windows_->raiseWindowsOf(standin->pid()));
    EXPECT_TRUE(testing::waitUntil([&] {
        const auto listed = windows_->visibleTopLevelWindows();
        return !listed.empty() && listed.front().pid == standin->pid();
    })) << "the stand-in's window is in front after raising it";

    EXPECT_FALSE(windows_->raiseWindowsOf(999'999'999));
    EXPECT_FALSE(windows_->raiseWindowsOf(0));
    EXPECT_FALSE(windows_->raiseWindowsOf(-1));
    const auto front = windows_->visibleTopLevelWindows();
    ASSERT_FALSE(front.empty());
    EXPECT_EQ(front.front().pid, standin->pid()) << "a failed raise changes nothing";
}

INSTANTIATE_TEST_SUITE_P(WindowManager, X11WindowSystemTest, ::testing::Bool(),
                         [](const ::testing::TestParamInfo<bool>& param) {
                             return param.param ? "Openbox" : "NoWindowManager";
                         });

// Disconnecting drops every selection the client owned, as when a compositor quits.
TEST(X11CompositorProbeTest, OnlyAnOwnerOfThisScreensSelectionIsACompositorUntilItLeaves) {
    if (!XvfbDisplay::serverAvailable()) GTEST_SKIP() << "Xvfb is not installed";
    XvfbDisplay display;
    EXPECT_FALSE(X11CompositorProbe::compositorRunning(display.name()));
    // Another screen's selection (and a look-alike name) say nothing about screen 0.
    const TestWindow otherScreen(display.name(),
                                 {.netWmPid = std::nullopt, .map = false, .ownsSelection = "_NET_WM_CM_S1"});
    const TestWindow lookAlike(display.name(),
                               {.netWmPid = std::nullopt, .map = false, .ownsSelection = "_NET_WM_CM_S"});
    EXPECT_FALSE(X11CompositorProbe::compositorRunning(display.name()));
    auto compositor = std::make_unique<TestWindow>(
        display.name(), TestWindow::Options{.netWmPid = std::nullopt, .map = false, .ownsSelection = "_NET_WM_CM_S0"});
    EXPECT_TRUE(X11CompositorProbe::compositorRunning(display.name()));
    compositor.reset();
    EXPECT_FALSE(X11CompositorProbe::compositorRunning(display.name()));
}

TEST(X11WindowSystemWithoutDisplay, IsEmptyAndRaisesNothingWithoutAServerOrAfterItWent) {
    testing::ScopedEnvironment environment;
    for (const char* display : {"", static_cast<const char*>(nullptr)}) {
        display ? environment.set("DISPLAY", display) : environment.unset("DISPLAY");
        X11WindowSystem unnamed;
        EXPECT_TRUE(unnamed.visibleTopLevelWindows().empty());
        EXPECT_FALSE(unnamed.raiseWindowsOf(::getpid()));
    }
    if (!XvfbDisplay::serverAvailable()) GTEST_SKIP() << "Xvfb is not installed";
    XvfbDisplay display;
    const std::string name = display.name();
    X11WindowSystem windows(name);
    const TestWindow window(name, {.netWmPid = static_cast<std::uint32_t>(::getpid())});
    ASSERT_EQ(windowsOf(windows, ::getpid()).size(), 1U);

    display.stop();
    // A parallel test's server may take over the freed number at once; whatever answers
    // there, our window went with our server.
    EXPECT_TRUE(windowsOf(windows, ::getpid()).empty());
    EXPECT_FALSE(windows.raiseWindowsOf(::getpid()));

    X11WindowSystem nobody(XvfbDisplay::unservedName());
    EXPECT_TRUE(nobody.visibleTopLevelWindows().empty());
    EXPECT_FALSE(nobody.raiseWindowsOf(::getpid()));
}

}  // namespace
}  // namespace orvan
