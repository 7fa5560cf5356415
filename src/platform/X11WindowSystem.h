#pragma once

#include "platform/WindowSystem.h"

#include <chrono>
#include <memory>
#include <mutex>
#include <string>

namespace orvan {

namespace detail {
struct X11Connection;  // the xcb state, kept out of this header
}

// Windows of other X11 clients through a private xcb connection (kept off any toolkit's event
// queue). With an EWMH window manager the list is its client list in stacking order; without
// one it is the root's viewable, non-override-redirect children. The owner is _NET_WM_PID,
// or, for clients that never set it, the local client pid the X-Resource extension reports.
// Without DISPLAY, or when the X server cannot be reached, the list is empty and raising
// does nothing; a lost connection is re-opened on a later call.
class X11WindowSystem final : public WindowSystem {
public:
    // An empty display name means $DISPLAY, read at each (re)connection.
    explicit X11WindowSystem(std::string displayName = {});
    ~X11WindowSystem() override;
    X11WindowSystem(const X11WindowSystem&) = delete;
    X11WindowSystem& operator=(const X11WindowSystem&) = delete;

    std::vector<WindowInfo> visibleTopLevelWindows() override;
    bool raiseWindowsOf(pid_t pid) override;

private:
    detail::X11Connection* connection();

    std::mutex mutex_;
    std::string displayName_;
    std::unique_ptr<detail::X11Connection> connection_;
    std::chrono::steady_clock::time_point lastFailure_{};
};

}  // namespace orvan
