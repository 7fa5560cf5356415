#pragma once

#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace orvan {

// Wayland gives a client neither other clients' windows nor global positions, so the window list,
// raising and the glasses-shell overlay only work between X11 clients. In a Wayland session that
// has XWayland (DISPLAY set) the app and scrcpy therefore both run as X11 clients, unless the
// user chose a platform or video driver. Returns the variables to set: (name, value) pairs.
std::vector<std::pair<std::string, std::string>> x11PreferenceUnderWayland(
    const std::function<std::optional<std::string>(const std::string&)>& environment);

// Applies x11PreferenceUnderWayland to this process (before the Qt application exists); its
// children inherit the choice.
void preferX11UnderWayland();

}  // namespace orvan
