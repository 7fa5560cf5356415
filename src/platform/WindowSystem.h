#pragma once

#include <sys/types.h>

#include <cstdint>
#include <vector>

namespace orvan {

// One on-screen top-level window of any process, as the desktop's window system reports it.
struct WindowInfo {
    std::uint32_t windowId = 0;
    pid_t pid = 0;  // owner process; 0 when the window system cannot tell
    // Client area in screen (root) coordinates, without the window manager's frame.
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
    // 0 for ordinary windows; above 0 for windows kept above them (always-on-top, docks,
    // notifications), which do not count as an app's main window.
    int layer = 0;

    bool operator==(const WindowInfo&) const = default;

    // Larger than 80×80 on both sides: a real window, not one of the tiny helper windows a
    // client maps while it starts. The one size rule of the mirror and overlay code.
    bool isLargerThanHelperWindow() const { return width > 80 && height > 80; }
};

// Other processes' windows: list the visible ones and bring a process's windows forward.
// A desktop without such a service (Wayland, no display at all) gives an empty list and raises
// nothing; callers then rely on other signals. Implementations are safe to call from any thread.
class WindowSystem {
public:
    virtual ~WindowSystem() = default;

    // Viewable top-level windows, frontmost first.
    virtual std::vector<WindowInfo> visibleTopLevelWindows() = 0;
    // Brings every window of `pid` forward, its frontmost one last so it ends on top with the
    // focus. False when the process has no window (or there is no window system).
    virtual bool raiseWindowsOf(pid_t pid) = 0;
};

}  // namespace orvan
