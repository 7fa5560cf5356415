// The stand-in's window under a private Xvfb: when it appears, that it can be the only sign
// of readiness, and that it ends the run like the real client's window when closed.

#include <gtest/gtest.h>
#include <xcb/xcb.h>

#include <cstdlib>
#include <cstring>
#include <nlohmann/json.hpp>

#include "XvfbDisplay.h"
#include "platform/X11WindowSystem.h"
#include "standin/StandinHarness.h"
#include "support/Wait.h"

namespace orvan::testing {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

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

    bool waitForWindowOf(pid_t pid, std::chrono::milliseconds timeout) {
        return waitUntil([&] { return !windowsOf(pid).empty(); }, timeout);
    }

    TempDir temp_;
    ScriptedAdb adb_{temp_.path()};
    std::unique_ptr<XvfbDisplay> display_;
    std::unique_ptr<X11WindowSystem> windows_;
};

TEST_F(StandinWindowTest, WindowOnlyModeMapsTheWindowAndNeverPrintsTheTexture) {
    auto standin = start(
        {{"ORVAN_STANDIN_MODE", "window-only"}, {"ORVAN_STANDIN_DELAY_MS", "0"}, {"ORVAN_STANDIN_WINDOW", "200x100"}});
    ASSERT_TRUE(waitForWindowOf(standin->pid(), 20s));
    auto readyBy = [&] {
        for (const auto& line : logLines(temp_.path() / "standin.jsonl")) {
            const auto entry = nlohmann::json::parse(line);
            if (entry["event"] == "ready") return entry["signal"].get<std::string>();
        }
        return std::string();
    };
    ASSERT_TRUE(waitUntil([&] { return !readyBy().empty(); }));
    EXPECT_EQ(readyBy(), "window");
    // Its end closes the output: a readiness line printed at any time before would be there.
    standin->child().terminate();
    ASSERT_TRUE(standin->waitForExit(20s));
    EXPECT_EQ(standin->output().find("Texture"), std::string::npos);
}

TEST_F(StandinWindowTest, TheTextureLineComesOnlyOnceTheWindowIsListed) {
    // Ready means ready: whoever sees the line and then lists windows finds this one.
    for (int run = 0; run < 3; ++run) {
        auto standin = start({{"ORVAN_STANDIN_DELAY_MS", "0"}, {"ORVAN_STANDIN_WINDOW", "120x90"}});
        ASSERT_TRUE(standin->waitForOutput("INFO: Texture:", 20s)) << standin->output();
        EXPECT_EQ(windowsOf(standin->pid()).size(), 1U) << "run " << run;
    }
}

TEST_F(StandinWindowTest, ClosingTheWindowEndsTheRunWithStatusZero) {
    auto standin = start({{"ORVAN_STANDIN_DELAY_MS", "0"}, {"ORVAN_STANDIN_WINDOW", "200x100"}});
    ASSERT_TRUE(waitForWindowOf(standin->pid(), 20s));
    const auto window = windowsOf(standin->pid()).front().windowId;

    // What a window manager sends when the user clicks the close button.
    xcb_connection_t* connection = xcb_connect(display_->name().c_str(), nullptr);
    ASSERT_EQ(xcb_connection_has_error(connection), 0);
    auto atom = [&](const char* name) {
        auto* reply = xcb_intern_atom_reply(
            connection, xcb_intern_atom(connection, 0, static_cast<std::uint16_t>(std::strlen(name)), name), nullptr);
        const xcb_atom_t value = reply->atom;
        std::free(reply);
        return value;
    };
    xcb_client_message_event_t message{};
    message.response_type = XCB_CLIENT_MESSAGE;
    message.format = 32;
    message.window = window;
    message.type = atom("WM_PROTOCOLS");
    message.data.data32[0] = atom("WM_DELETE_WINDOW");
    message.data.data32[1] = XCB_CURRENT_TIME;
    xcb_send_event(connection, 0, window, XCB_EVENT_MASK_NO_EVENT, reinterpret_cast<const char*>(&message));
    // A round trip before hanging up: a busy X server drops the last requests of a client
    // that disconnects right after sending them.
    std::free(xcb_get_input_focus_reply(connection, xcb_get_input_focus(connection), nullptr));
    xcb_disconnect(connection);

    const auto exit = standin->waitForExit(20s);
    std::string log;
    for (const auto& line : logLines(temp_.path() / "standin.jsonl")) log += line.substr(0, 300) + "\n";
    ASSERT_TRUE(exit) << "the stand-in kept running after its window was closed; its log:\n" << log;
    EXPECT_EQ(exit->reason, ProcessExit::Reason::exited);
    EXPECT_EQ(exit->status, 0);
}

}  // namespace
}  // namespace orvan::testing
