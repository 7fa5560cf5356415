#include "support/RealScrcpy.h"

#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <regex>

#include "support/AdbWorld.h"
#include "support/CommandRun.h"

namespace orvan::testing {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

std::vector<int> versionKey(const std::string& version) {
    std::vector<int> key;
    for (std::size_t at = 0; at < version.size();) {
        key.push_back(std::atoi(version.c_str() + at));
        const std::size_t dot = version.find('.', at);
        if (dot == std::string::npos) break;
        at = dot + 1;
    }
    return key;
}

std::optional<RealScrcpyClient> clientFromEnvironment() {
    const char* path = std::getenv("ORVAN_REAL_SCRCPY");
    if (!path || !*path || ::access(path, X_OK) != 0) return std::nullopt;
    // Every run first prints "scrcpy <version> <https://...>".
    const CommandResult run = runCommand({path, "--version"}, 20s);
    std::smatch match;
    static const std::regex firstLine(R"(scrcpy v?([0-9][0-9A-Za-z.\-]*))");
    if (!std::regex_search(run.out, match, firstLine)) return std::nullopt;
    return RealScrcpyClient{match[1], path, {}, true};
}

}  // namespace

std::map<std::string, std::string> RealScrcpyClient::environment(const fs::path& serverFile) const {
    std::map<std::string, std::string> env = {{"SCRCPY_SERVER_PATH", serverFile.string()},
                                              {"ADB", AdbWorld::realAdb().string()}};
    if (!iconPath.empty()) env["SCRCPY_ICON_PATH"] = iconPath.string();
    return env;
}

std::vector<std::string> RealScrcpyClient::arguments(const std::string& serial, const std::string& title,
                                                     int port) const {
    std::vector<std::string> args = {"-s", serial, "--window-title=" + title, "--port=" + std::to_string(port)};
    if (hasAudio()) args.push_back("--no-audio");
    return args;
}

std::string RealScrcpyClient::testName() const {
    std::string name = "v" + version;
    for (char& c : name) {
        if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
    }
    return fromEnvironment ? name + "_env" : name;
}

std::vector<RealScrcpyClient> realScrcpyClients() {
    std::vector<RealScrcpyClient> clients;
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(ORVAN_REAL_SCRCPY_DIR, error)) {
        const fs::path program = entry.path() / "scrcpy";
        if (entry.path().filename().string().starts_with(".") || ::access(program.c_str(), X_OK) != 0) continue;
        clients.push_back({entry.path().filename().string(), program, entry.path() / "icon.png"});
    }
    std::sort(clients.begin(), clients.end(),
              [](const auto& a, const auto& b) { return versionKey(a.version) < versionKey(b.version); });
    if (auto own = clientFromEnvironment()) clients.push_back(std::move(*own));
    return clients;
}

std::string realScrcpyUnavailableReason() {
    if (!realScrcpyClients().empty()) return {};
    return std::string("no real scrcpy client: no vendored sources at ") + ORVAN_SCRCPY_VENDOR_DIR +
           " (built into " + ORVAN_REAL_SCRCPY_DIR + ") and ORVAN_REAL_SCRCPY unset";
}

fs::path writeScrcpyServerFile(const fs::path& folder) {
    const fs::path file = folder / "scrcpy-server.jar";
    std::ofstream(file) << "a stand-in for the server the simulated glasses play\n";
    return file;
}

namespace x11 {

std::optional<std::string> visibleWindow(const std::string& display, const std::string& title) {
    const CommandResult found = runCommand({"/usr/bin/env", "DISPLAY=" + display, "xdotool", "search", "--onlyvisible",
                                            "--name", "^" + title + "$"},
                                           20s);
    const std::string id = found.out.substr(0, found.out.find('\n'));
    if (found.exitCode != 0 || id.empty()) return std::nullopt;
    return id;
}

std::optional<std::pair<int, int>> windowSize(const std::string& display, const std::string& windowId) {
    const CommandResult geometry = runCommand(
        {"/usr/bin/env", "DISPLAY=" + display, "xdotool", "getwindowgeometry", "--shell", windowId}, 20s);
    std::smatch width, height;
    static const std::regex widthLine(R"(WIDTH=(\d+))"), heightLine(R"(HEIGHT=(\d+))");
    if (!std::regex_search(geometry.out, width, widthLine) || !std::regex_search(geometry.out, height, heightLine))
        return std::nullopt;
    return std::pair{std::stoi(width[1]), std::stoi(height[1])};
}

std::size_t grabWindow(const std::string& display, const std::string& windowId, const fs::path& png) {
    const CommandResult grab =
        runCommand({"/usr/bin/env", "DISPLAY=" + display, "import", "-window", windowId, png.string()}, 20s);
    if (grab.exitCode != 0) return 0;
    const CommandResult colours = runCommand({"/usr/bin/identify", "-format", "%k", png.string()}, 20s);
    return colours.exitCode == 0 ? static_cast<std::size_t>(std::atoll(colours.out.c_str())) : 0;
}

}  // namespace x11

fs::path screenshotFolder() {
    const char* chosen = std::getenv("ORVAN_SCREENSHOT_DIR");
    const fs::path folder = chosen && *chosen ? fs::path(chosen) : fs::path(ORVAN_SOURCE_DIR) / "screenshots";
    fs::create_directories(folder);
    return folder;
}

}  // namespace orvan::testing
