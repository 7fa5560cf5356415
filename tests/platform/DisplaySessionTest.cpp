// Which display platform the app and scrcpy use, by session; the user's own choice stands.
#include <gtest/gtest.h>

#include <map>

#include "platform/DisplaySession.h"

namespace orvan {
namespace {

using Variables = std::map<std::string, std::string>;
using Choice = std::vector<std::pair<std::string, std::string>>;

TEST(DisplaySession, PrefersX11OnlyUnderWaylandWithXWayland) {
    const Choice kBoth = {{"QT_QPA_PLATFORM", "xcb"}, {"SDL_VIDEODRIVER", "x11"}, {"SDL_VIDEO_DRIVER", "x11"}};
    for (const auto& [variables, choice] :
         {std::pair(Variables{{"WAYLAND_DISPLAY", "wayland-0"}, {"DISPLAY", ":0"}}, kBoth),
          std::pair(Variables{{"XDG_SESSION_TYPE", "wayland"}, {"DISPLAY", ":1"}}, kBoth),
          std::pair(Variables{{"WAYLAND_DISPLAY", "wayland-0"}}, Choice{}),  // no XWayland
          std::pair(Variables{{"WAYLAND_DISPLAY", "wayland-0"}, {"DISPLAY", ""}}, Choice{}),
          std::pair(Variables{{"XDG_SESSION_TYPE", "x11"}, {"DISPLAY", ":0"}}, Choice{}),
          std::pair(Variables{{"WAYLAND_DISPLAY", "w"}, {"DISPLAY", ":0"}, {"QT_QPA_PLATFORM", "wayland"}},
                    Choice{{"SDL_VIDEODRIVER", "x11"}, {"SDL_VIDEO_DRIVER", "x11"}}),
          std::pair(Variables{{"WAYLAND_DISPLAY", "w"},
                              {"DISPLAY", ":0"},
                              {"SDL_VIDEODRIVER", "wayland"},
                              {"SDL_VIDEO_DRIVER", "wayland"}},
                    Choice{{"QT_QPA_PLATFORM", "xcb"}})}) {
        auto environment = [&](const std::string& name) -> std::optional<std::string> {
            auto found = variables.find(name);
            return found == variables.end() ? std::nullopt : std::optional(found->second);
        };
        EXPECT_EQ(x11PreferenceUnderWayland(environment), choice);
    }
}

}  // namespace
}  // namespace orvan
