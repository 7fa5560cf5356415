#pragma once

// The real scrcpy clients for end-to-end tests: the vendored 1.25, 2.7 and 3.3.4 built by the
// `real_scrcpy_clients` target (once, shared by every build tree), plus the client named by
// ORVAN_REAL_SCRCPY (a distribution's, for example). The simulated glasses play their server.

#include <chrono>
#include <filesystem>
#include <map>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

namespace orvan::testing {

struct RealScrcpyClient {
    std::string version;              // "1.25", "2.7", "3.3.4", or what `--version` printed
    std::filesystem::path path;       // the client program
    std::filesystem::path iconPath;   // its window icon, empty when unknown
    bool fromEnvironment = false;     // ORVAN_REAL_SCRCPY

    // 2.0 and later stream audio unless told `--no-audio` (1.x rejects that option).
    bool hasAudio() const { return !version.starts_with("1."); }
    // What the client needs to find besides the world's adb: SCRCPY_SERVER_PATH (any regular
    // file, pushed to the glasses) and SCRCPY_ICON_PATH (silences the missing-icon errors of
    // a client run from its build folder). ADB points at the real adb.
    std::map<std::string, std::string> environment(const std::filesystem::path& serverFile) const;
    // `-s <serial> --window-title=<title> --port=<port>`, plus `--no-audio` where it exists.
    std::vector<std::string> arguments(const std::string& serial, const std::string& title, int port) const;
    // A name fit for a test: "v3_3_4" (with "_env" for ORVAN_REAL_SCRCPY's).
    std::string testName() const;
};

// How test names and failures show a client.
inline void PrintTo(const RealScrcpyClient& client, std::ostream* out) { *out << "scrcpy " << client.version; }

// Every client there is, in version order; empty when there is none (see the reason below).
std::vector<RealScrcpyClient> realScrcpyClients();
// Why there is no client (one line), or empty when there is one.
std::string realScrcpyUnavailableReason();

// Writes a small regular file for SCRCPY_SERVER_PATH into `folder` and returns its path.
std::filesystem::path writeScrcpyServerFile(const std::filesystem::path& folder);

// X11 windows of another process on `display` (":N"), through xdotool and ImageMagick.
namespace x11 {
// The id of a visible (mapped) window with exactly this title, if there is one.
std::optional<std::string> visibleWindow(const std::string& display, const std::string& title);
// The window's size in pixels, if it can be read.
std::optional<std::pair<int, int>> windowSize(const std::string& display, const std::string& windowId);
// Saves the window's pixels as PNG and returns how many distinct colours they hold (0 when the
// grab failed).
std::size_t grabWindow(const std::string& display, const std::string& windowId, const std::filesystem::path& png);
}  // namespace x11

// Where review screenshots go: $ORVAN_SCREENSHOT_DIR, else the folder scripts/screenshot
// writes by default (screenshots/ in the source tree). Created when missing.
std::filesystem::path screenshotFolder();

}  // namespace orvan::testing
