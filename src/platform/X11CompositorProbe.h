#pragma once

#include <string>

namespace orvan {

// Whether a compositing manager runs on an X display. Without one, the transparent pixels of a
// translucent window show black, so an overlay has to shape itself instead.
class X11CompositorProbe {
public:
    // A compositor announces itself by owning the selection _NET_WM_CM_S<screen> of the screen
    // it composites. An empty display name means $DISPLAY. False when the display cannot be
    // reached. It opens and closes a connection of its own: ask once per window, not per frame.
    static bool compositorRunning(const std::string& displayName = {});
};

}  // namespace orvan
