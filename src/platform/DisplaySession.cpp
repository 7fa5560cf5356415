#include "platform/DisplaySession.h"

#include <cstdlib>

namespace orvan {

std::vector<std::pair<std::string, std::string>> x11PreferenceUnderWayland(
    const std::function<std::optional<std::string>(const std::string&)>& environment) {
    auto set = [&](const char* name) {
        auto value = environment(name);
        return value && !value->empty();
    };
    bool wayland = set("WAYLAND_DISPLAY") || environment("XDG_SESSION_TYPE") == "wayland";
    if (!wayland || !set("DISPLAY")) return {};
    std::vector<std::pair<std::string, std::string>> choice;
    if (!set("QT_QPA_PLATFORM")) choice.emplace_back("QT_QPA_PLATFORM", "xcb");
    // SDL 2 clients read the first name, SDL 3 clients (scrcpy 4 and later) the second.
    if (!set("SDL_VIDEODRIVER")) choice.emplace_back("SDL_VIDEODRIVER", "x11");
    if (!set("SDL_VIDEO_DRIVER")) choice.emplace_back("SDL_VIDEO_DRIVER", "x11");
    return choice;
}

void preferX11UnderWayland() {
    auto choice = x11PreferenceUnderWayland([](const std::string& name) -> std::optional<std::string> {
        const char* value = std::getenv(name.c_str());
        return value ? std::optional<std::string>(value) : std::nullopt;
    });
    for (const auto& [name, value] : choice) setenv(name.c_str(), value.c_str(), 1);
}

}  // namespace orvan
