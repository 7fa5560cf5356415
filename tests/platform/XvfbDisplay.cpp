#include "XvfbDisplay.h"

#include <unistd.h>
#include <xcb/xcb.h>

#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <stdexcept>
#include <thread>

namespace orvan::testing {
namespace {

using Clock = std::chrono::steady_clock;
constexpr auto startTimeout = std::chrono::seconds(10);

// Debian's places; a test whose tool is missing skips.
const std::string kXvfb = "/usr/bin/Xvfb", kOpenbox = "/usr/bin/openbox";

void stopChild(std::unique_ptr<ChildProcess>& child) {
    if (!child) return;
    child->terminate();
    if (!child->waitForExit(Clock::now() + std::chrono::seconds(3), {})) {
        child->sendSignal(SIGKILL);
        child->waitForExit();
    }
    child.reset();
}

// True once a window manager manages new windows: a probe window gets reparented into a
// frame. (Its _NET_SUPPORTING_WM_CHECK alone comes before it handles map requests.)
bool windowManagerManages(const std::string& display) {
    xcb_connection_t* connection = xcb_connect(display.c_str(), nullptr);
    bool managed = false;
    if (xcb_connection_has_error(connection) == 0) {
        const xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(connection)).data;
        const xcb_window_t probe = xcb_generate_id(connection);
        xcb_create_window(connection, XCB_COPY_FROM_PARENT, probe, screen->root, 0, 0, 10, 10, 0,
                          XCB_WINDOW_CLASS_INPUT_OUTPUT, screen->root_visual, 0, nullptr);
        xcb_map_window(connection, probe);
        xcb_flush(connection);
        for (int attempt = 0; attempt < 25 && !managed; ++attempt) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
            auto* tree = xcb_query_tree_reply(connection, xcb_query_tree(connection, probe), nullptr);
            managed = tree != nullptr && tree->parent != screen->root;
            std::free(tree);
        }
        xcb_destroy_window(connection, probe);
        xcb_flush(connection);
    }
    xcb_disconnect(connection);
    return managed;
}

}  // namespace

bool XvfbDisplay::serverAvailable() { return ::access(kXvfb.c_str(), X_OK) == 0; }

bool XvfbDisplay::windowManagerAvailable() { return ::access(kOpenbox.c_str(), X_OK) == 0; }

std::string XvfbDisplay::unservedName() {
    for (int number = 65534; number > 60000; --number) {
        const auto text = std::to_string(number);
        std::error_code ignored;
        if (!std::filesystem::exists("/tmp/.X11-unix/X" + text, ignored) &&
            !std::filesystem::exists("/tmp/.X" + text + "-lock", ignored)) {
            return ":" + text;
        }
    }
    throw std::runtime_error("every display from :60001 to :65534 seems taken");
}

XvfbDisplay::XvfbDisplay(bool withWindowManager) {
    // Xvfb writes the display number it chose to descriptor 1 once it accepts connections.
    // Its complaints are sent to /dev/null, so the pipe carries nothing else and can be closed
    // once the number is read (a pipe nobody reads could otherwise stall it later).
    // -noreset: a server that resets when its last client leaves picks its display afresh
    // and can end up listening nowhere, so a short first connection would break the display.
    server_ = ChildProcess::launch(
        ProcessSpec{"/bin/sh",
                    {"-c", "exec \"$0\" \"$@\" 2>/dev/null", kXvfb, "-displayfd", "1", "-screen", "0",
                     "1024x768x24", "-nolisten", "tcp", "-noreset"},
                    {},
                    std::nullopt});
    std::string output;
    const auto deadline = Clock::now() + startTimeout;
    while (output.find('\n') == std::string::npos && Clock::now() < deadline && server_->isRunning()) {
        server_->waitForExit(Clock::now() + std::chrono::milliseconds(20), [&](std::string_view chunk) { output += chunk; });
    }
    server_->closeOutput();
    if (const auto line = output.substr(0, output.find('\n'));
        !line.empty() && line.find_first_not_of("0123456789") == std::string::npos) {
        name_ = ":" + line;
    }
    if (name_.empty()) {
        stopChild(server_);
        throw std::runtime_error("Xvfb did not start: " + output);
    }
    if (withWindowManager) startWindowManager();
}

void XvfbDisplay::startWindowManager() {
    // Openbox gets its own HOME and XDG folders, so it neither reads nor writes the user's.
    home_ = std::make_unique<TempDir>("orvan-openbox");
    const auto& home = home_->path();
    windowManager_ = ChildProcess::launch(ProcessSpec{"/bin/sh",
                                                      {"-c", "exec \"$0\" --sm-disable >\"$1\" 2>&1",
                                                       kOpenbox, (home / "openbox.log").string()},
                                                      {{"DISPLAY", name_},
                                                       {"HOME", home.string()},
                                                       {"XDG_CONFIG_HOME", (home / "config").string()},
                                                       {"XDG_CACHE_HOME", (home / "cache").string()},
                                                       {"XDG_DATA_HOME", (home / "data").string()},
                                                       {"DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent"}},
                                                      std::nullopt});
    const auto deadline = Clock::now() + startTimeout;
    windowManager_->closeOutput();
    while (!windowManagerManages(name_)) {
        if (Clock::now() >= deadline || !windowManager_->isRunning()) {
            const std::string said = readWholeFile(home / "openbox.log");
            stop();
            throw std::runtime_error("openbox did not start on " + name_ + ": " + said);
        }
    }
}

void XvfbDisplay::stop() {
    stopChild(windowManager_);
    stopChild(server_);
    home_.reset();
}

XvfbDisplay::~XvfbDisplay() { stop(); }

}  // namespace orvan::testing
